#!/usr/bin/perl
# Makes a linked program smaller without changing what it does.
#
# Drops the DOS stub program (the "cannot be run in DOS mode" message) that the
# linker puts between the DOS header and the PE headers, when that brings the
# headers into one fewer file-alignment block. A program with four sections
# (code, imports, resources, relocations) has 536 bytes of headers with the
# stub, 472 without: 512 bytes of file saved.
#
# With --fold, first moves the resources and base relocations of a program
# whose last sections they are into the tail of the section before them, when
# that saves file blocks: the system finds both through the data directory
# wherever they lie, but the linker gives each a section of its own, which
# costs up to a block of alignment padding apiece. The resource tree's data
# entries hold addresses and are moved with it; nothing else refers to either.
#
# Rewrites the file in place and its checksum; leaves it untouched when
# nothing would be saved.
#
#   compact_pe_headers.pl [--fold] PROGRAM.exe
use strict;
use warnings;

# An option the build leaves out arrives as an empty argument.
@ARGV = grep { length } @ARGV;
my $fold = @ARGV && $ARGV[0] eq '--fold' ? shift @ARGV : 0;
my ($path) = @ARGV;
die "usage: compact_pe_headers.pl [--fold] PROGRAM.exe\n" unless defined $path && @ARGV == 1;
open(my $in, '<:raw', $path) or die "$path: $!\n";
my $file = do { local $/; <$in> };
close $in;
my $originalLength = length $file;

sub u16 { unpack('v', substr($file, $_[0], 2)) }
sub u32 { unpack('V', substr($file, $_[0], 4)) }
sub put32 { substr($file, $_[0], 4) = pack('V', $_[1]) }
sub alignUp { my ($value, $alignment) = @_; int(($value + $alignment - 1) / $alignment) * $alignment }

die "$path: not an MZ file\n" unless substr($file, 0, 2) eq 'MZ';
my $pe = u32(0x3C);
die "$path: no PE signature\n" unless substr($file, $pe, 4) eq "PE\0\0";
my $optional = $pe + 24;
my $optionalSize = u16($pe + 20);
die "$path: not a PE32 image\n" unless u16($optional) == 0x10B;
# Data directory 4 (certificates) is the one that holds a file offset.
die "$path: a signed program cannot be rewritten\n" if u32($optional + 96 + 4 * 8);
my $fileAlignment = u32($optional + 36);
my $sectionAlignment = u32($optional + 32);
my $changed = 0;

sub sectionHeader { $optional + $optionalSize + 40 * $_[0] }

sub sectionNamed {
    my ($name) = @_;
    for my $i (0 .. u16($pe + 6) - 1) {
        my $header = sectionHeader($i);
        return $i if unpack('Z8', substr($file, $header, 8)) eq $name;
    }
    return -1;
}

# Adds `delta` to the address of every data entry below the resource
# directory at `directory` (an offset from the tree's start).
sub moveResourceEntries {
    my ($tree, $directory, $delta) = @_;
    my $entries = u16($tree + $directory + 12) + u16($tree + $directory + 14);
    for my $n (0 .. $entries - 1) {
        my $target = u32($tree + $directory + 16 + 8 * $n + 4);
        if ($target & 0x80000000) {
            moveResourceEntries($tree, $target & 0x7FFFFFFF, $delta);
        } else {
            put32($tree + $target, u32($tree + $target) + $delta);
        }
    }
}

sub foldIntoCode {
    my $count = u16($pe + 6);
    return unless $count >= 3 && sectionNamed('.rsrc') == $count - 2 && sectionNamed('.reloc') == $count - 1;
    my $host = sectionHeader($count - 3);
    my $hostRva = u32($host + 12);
    my $hostOffset = u32($host + 20);
    # Only when the three sections end the file, one right after the other.
    my $layoutEnd = $hostOffset + u32($host + 16);
    for my $i ($count - 2, $count - 1) {
        return unless u32(sectionHeader($i) + 20) == $layoutEnd;
        $layoutEnd += u32(sectionHeader($i) + 16);
    }
    return unless $layoutEnd == length $file;
    my $body = substr($file, $hostOffset, u32($host + 8));
    my %newRva;
    for my $directory (2, 5) {   # resources, base relocations
        my $header = sectionHeader($directory == 2 ? $count - 2 : $count - 1);
        my $entry = $optional + 96 + 8 * $directory;
        die "$path: data directory $directory does not match its section\n"
            unless u32($entry) == u32($header + 12) && u32($entry + 4) == u32($header + 8);
        $body .= "\0" x (alignUp(length $body, 4) - length $body);
        $newRva{$directory} = [$entry, $hostRva + length $body, length $body, u32($header + 12)];
        $body .= substr($file, u32($header + 20), u32($header + 8));
    }
    my $rawSize = alignUp(length $body, $fileAlignment);
    return unless $hostOffset + $rawSize < length $file;

    for my $directory (2, 5) {
        my ($entry, $rva) = @{$newRva{$directory}};
        put32($entry, $rva);
    }
    substr($file, sectionHeader($count - 2), 80) = "\0" x 80;
    substr($file, $pe + 6, 2) = pack('v', $count - 2);
    put32($host + 8, length $body);
    put32($host + 16, $rawSize);
    put32($optional + 56, alignUp($hostRva + length $body, $sectionAlignment));   # size of image
    $file = substr($file, 0, $hostOffset) . $body . ("\0" x ($rawSize - length $body));
    my (undef, $rva, $treeOffset, $oldRva) = @{$newRva{2}};
    moveResourceEntries($hostOffset + $treeOffset, 0, $rva - $oldRva);
    $changed = 1;
}

sub dropDosStub {
    my $sections = u16($pe + 6);
    my $oldHeaderSize = u32($optional + 60);
    my $headersEnd = $optional + $optionalSize + 40 * $sections;
    my $dosHeader = 0x40;
    my $newHeaderSize = alignUp($dosHeader + ($headersEnd - $pe), $fileAlignment);
    return if $pe <= $dosHeader || $newHeaderSize >= $oldHeaderSize;
    my $saved = $oldHeaderSize - $newHeaderSize;

    my $headers = substr($file, 0, $dosHeader) . substr($file, $pe, $headersEnd - $pe);
    substr($headers, 0x3C, 4) = pack('V', $dosHeader);
    $headers .= "\0" x ($newHeaderSize - length $headers);
    my $newOptional = $dosHeader + 24;
    substr($headers, $newOptional + 60, 4) = pack('V', $newHeaderSize);
    for my $i (0 .. $sections - 1) {
        my $rawPointer = $newOptional + $optionalSize + 40 * $i + 20;
        my $offset = unpack('V', substr($headers, $rawPointer, 4));
        substr($headers, $rawPointer, 4) = pack('V', $offset - $saved) if $offset;
    }
    $file = $headers . substr($file, $oldHeaderSize);
    $pe = $dosHeader;
    $optional = $newOptional;
    $changed = 1;
}

foldIntoCode() if $fold;
dropDosStub();
exit 0 unless $changed;

# The image checksum: 16-bit sums with end-around carry, plus the file length,
# taken with the checksum field itself as zero.
my $checksumField = $optional + 64;
put32($checksumField, 0);
my $sum = 0;
my $padded = $file . ("\0" x (length($file) % 2));
for my $word (unpack('v*', $padded)) {
    $sum += $word;
    $sum = ($sum & 0xFFFF) + ($sum >> 16);
}
$sum = ($sum & 0xFFFF) + ($sum >> 16);
put32($checksumField, $sum + length $file);

open(my $out, '>:raw', $path) or die "$path: $!\n";
print $out $file;
close $out or die "$path: $!\n";
