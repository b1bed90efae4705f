#!/usr/bin/perl
# Converts an uncompressed BMP (8 bits with a palette, 24 or 32 bits) into an
# RGB PNG, so screenshots need nothing beyond perl.
#
#   bmp_to_png.pl IN.bmp OUT.png
use strict;
use warnings;
use Compress::Zlib;

my ($source, $target) = @ARGV;
die "usage: bmp_to_png.pl IN.bmp OUT.png\n" unless defined $target;
open(my $in, '<:raw', $source) or die "$source: $!\n";
my $bytes = do { local $/; <$in> };
close $in;

my ($magic, $offset) = unpack('a2 x8 V', $bytes);
die "$source: not a BMP file\n" unless $magic eq 'BM';
my ($infoSize, $width, $height, $planes, $bits, $compression, $imageSize, $xppm, $yppm, $used) =
    unpack('V l l v v V V l l V', substr($bytes, 14, 40));
die "$source: compressed bitmaps are not supported\n" unless $compression == 0 || $compression == 3;
my @palette;
if ($bits == 8) {
    my $count = $used || 256;
    @palette = map { [unpack('CCC', substr($bytes, 14 + $infoSize + 4 * $_, 3))] } 0 .. $count - 1;
} elsif ($bits != 24 && $bits != 32) {
    die "$source: $bits bits per pixel are not supported\n";
}

my $bottomUp = $height > 0;
$height = abs $height;
my $stride = (($width * $bits + 31) >> 5) * 4;
my $raw = '';
for my $y (0 .. $height - 1) {
    my $row = substr($bytes, $offset + ($bottomUp ? $height - 1 - $y : $y) * $stride, $stride);
    $raw .= "\0";   # filter: none
    for my $x (0 .. $width - 1) {
        my ($b, $g, $r);
        if ($bits == 8) {
            ($b, $g, $r) = @{ $palette[ord substr($row, $x, 1)] };
        } else {
            ($b, $g, $r) = unpack('CCC', substr($row, $x * $bits / 8, 3));
        }
        $raw .= pack('CCC', $r, $g, $b);
    }
}

sub chunk {
    my ($type, $data) = @_;
    return pack('N', length $data) . $type . $data . pack('N', crc32($type . $data));
}
open(my $out, '>:raw', $target) or die "$target: $!\n";
print $out "\x89PNG\r\n\x1a\n",
    chunk('IHDR', pack('NNCCCCC', $width, $height, 8, 2, 0, 0, 0)),
    chunk('IDAT', compress($raw, 9)),
    chunk('IEND', '');
close $out or die "$target: $!\n";
