#!/usr/bin/perl
# Turns the picture grids of tree_images.txt into the folder tree's bitmap:
# the pictures side by side, 8 bits per pixel, with a full 256-colour palette
# that starts with the colours the grids name (in the file's order).
#
#   make_tree_bitmap.pl tree_images.txt tree_images.bmp
use strict;
use warnings;

my ($source, $target) = @ARGV;
die "usage: make_tree_bitmap.pl GRIDS.txt OUT.bmp\n" unless defined $target;

my $width = 16;
my $height = 14;
my (@palette, %index, @pictures);

open(my $in, '<', $source) or die "$source: $!\n";
while (my $line = <$in>) {
    chomp $line;
    next if $line =~ /^\s*(#|$)/;
    if ($line =~ /^palette (\S) (\d+) (\d+) (\d+)$/) {
        die "$source:$.: letter '$1' defined twice\n" if exists $index{$1};
        $index{$1} = scalar @palette;
        push @palette, [$2, $3, $4];
    } elsif ($line =~ /^picture (\S+)$/) {
        push @pictures, { name => $1, rows => [] };
    } else {
        die "$source:$.: grid row outside a picture\n" unless @pictures;
        die "$source:$.: row is not $width pixels wide\n" unless length($line) == $width;
        for my $letter (split //, $line) {
            die "$source:$.: letter '$letter' is not in the palette\n" unless exists $index{$letter};
        }
        push @{ $pictures[-1]{rows} }, $line;
    }
}
close $in;

for my $picture (@pictures) {
    my $rows = scalar @{ $picture->{rows} };
    die "$source: picture $picture->{name} has $rows rows, not $height\n" unless $rows == $height;
}

# Rows are stored bottom-up, each padded to a multiple of 4 bytes.
my $bitmapWidth = $width * scalar @pictures;
my $stride = ($bitmapWidth + 3) & ~3;
my $pixels = '';
for my $y (reverse 0 .. $height - 1) {
    my $row = join '', map { $_->{rows}[$y] } @pictures;
    $pixels .= pack('C*', map { $index{$_} } split //, $row);
    $pixels .= "\0" x ($stride - $bitmapWidth);
}
die "$source: more than 256 colours\n" if @palette > 256;
my $colours = join '', map { pack('CCCC', $_->[2], $_->[1], $_->[0], 0) } @palette;
$colours .= "\0" x (4 * (256 - scalar @palette));

my $infoSize = 40;
my $offset = 14 + $infoSize + length $colours;
my $fileHeader = pack('a2 V v v V', 'BM', $offset + length $pixels, 0, 0, $offset);
my $infoHeader = pack('V l l v v V V l l V V', $infoSize, $bitmapWidth, $height, 1, 8, 0,
                      length $pixels, 0, 0, 256, 0);

open(my $out, '>:raw', $target) or die "$target: $!\n";
print $out $fileHeader, $infoHeader, $colours, $pixels;
close $out or die "$target: $!\n";
