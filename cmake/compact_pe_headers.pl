#!/usr/bin/perl
# Drops the DOS stub program (the "cannot be run in DOS mode" message) that the
# linker puts between the DOS header and the PE headers, when that brings the
# headers into one fewer file-alignment block. A program with four sections
# (code, imports, resources, relocations) has 536 bytes of headers with the
# stub, 472 without: 512 bytes of file saved. Rewrites the file in place;
# leaves it untouched when nothing would be saved.
#
#   compact_pe_headers.pl PROGRAM.exe
use strict;
use warnings;

my ($path) = @ARGV;
die "usage: compact_pe_headers.pl PROGRAM.exe\n" unless defined $path;
open(my $in, '<:raw', $path) or die "$path: $!\n";
my $file = do { local $/; <$in> };
close $in;

sub u16 { unpack('v', substr($file, $_[0], 2)) }
sub u32 { unpack('V', substr($file, $_[0], 4)) }

die "$path: not an MZ file\n" unless substr($file, 0, 2) eq 'MZ';
my $pe = u32(0x3C);
die "$path: no PE signature\n" unless substr($file, $pe, 4) eq "PE\0\0";
my $sections = u16($pe + 6);
my $optional = $pe + 24;
my $optionalSize = u16($pe + 20);
die "$path: not a PE32 image\n" unless u16($optional) == 0x10B;
my $fileAlignment = u32($optional + 36);
my $oldHeaderSize = u32($optional + 60);
my $headersEnd = $optional + $optionalSize + 40 * $sections;

my $dosHeader = 0x40;
my $newHeaderSize = $dosHeader + ($headersEnd - $pe);
$newHeaderSize = int(($newHeaderSize + $fileAlignment - 1) / $fileAlignment) * $fileAlignment;
exit 0 if $pe <= $dosHeader || $newHeaderSize >= $oldHeaderSize;
my $saved = $oldHeaderSize - $newHeaderSize;

my $headers = substr($file, 0, $dosHeader) . substr($file, $pe, $headersEnd - $pe);
substr($headers, 0x3C, 4) = pack('V', $dosHeader);
$headers .= "\0" x ($newHeaderSize - length $headers);
my $newPe = $dosHeader;
my $newOptional = $newPe + 24;
substr($headers, $newOptional + 60, 4) = pack('V', $newHeaderSize);
for my $i (0 .. $sections - 1) {
    my $rawPointer = $newOptional + $optionalSize + 40 * $i + 20;
    my $offset = unpack('V', substr($headers, $rawPointer, 4));
    substr($headers, $rawPointer, 4) = pack('V', $offset - $saved) if $offset;
}
# Data directory 4 (certificates) is the one that holds a file offset.
die "$path: a signed program cannot be rewritten\n" if u32($optional + 96 + 4 * 8);
$file = $headers . substr($file, $oldHeaderSize);

# The image checksum: 16-bit sums with end-around carry, plus the file length,
# taken with the checksum field itself as zero.
my $checksumField = $newOptional + 64;
substr($file, $checksumField, 4) = pack('V', 0);
my $sum = 0;
my $padded = $file . ("\0" x (length($file) % 2));
for my $word (unpack('v*', $padded)) {
    $sum += $word;
    $sum = ($sum & 0xFFFF) + ($sum >> 16);
}
$sum = ($sum & 0xFFFF) + ($sum >> 16);
substr($file, $checksumField, 4) = pack('V', $sum + length $file);

open(my $out, '>:raw', $path) or die "$path: $!\n";
print $out $file;
close $out or die "$path: $!\n";
