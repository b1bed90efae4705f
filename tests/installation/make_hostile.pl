#!/usr/bin/perl
# Hostile installers made from one built installer, each judged by `stubkit test`:
#   make_hostile.pl STUBKIT INSTALLER TITLE OUT_DIR RANDOM_COUNT SEED
# Every rewrite a user could make after `build`: names of every class in the
# file table, slots of the configuration record, bytes of the stub, header
# fields that contradict the table, and some that change nothing the
# installer uses. OUT_DIR/NAME.exe are the installers; OUT_DIR/manifest.txt
# holds one line per installer: NAME, the exit code of `stubkit test`,
# "record" when `test` refused the record or the stub rather than the
# payload, and the code page the row is for (the suite runs the rows of 932
# under the Japanese system code page). `test` judges each row's lengths
# under the folder the suite installs it into, C:\e2e run\hostile NAME\.
# The fixed rows come first (the CI sample); RANDOM_COUNT random ones drawn
# from SEED follow (`make stress`).
use strict;
use warnings;

my ($stubkit, $installer, $title, $out, $random_count, $seed) = @ARGV;
open(my $in, '<:raw', $installer) or die "$installer: $!";
my $good = do { local $/; <$in> };
close $in;

my $record = index($good, "$title\0") - 32;
my ($stub_size) = substr($good, $record, 32) =~ /^(\d+)/;
my ($file_count, $total_size, $table_size) = unpack('V3', substr($good, $stub_size, 12));
my $table_start = $stub_size + 12;
my (@fixed, @names);
for (my ($at, $i) = ($table_start, 0); $i < $file_count; ++$i) {
    my $length = ord(substr($good, $at + 32, 1));
    push @fixed, substr($good, $at, 32);
    push @names, substr($good, $at + 33, $length);
    $at += 33 + $length;
}
my $stream = substr($good, $table_start + $table_size);

# The installer with other names in its table (and the header's table size to match).
sub with_names {
    my @new = @_;
    my $table = join('', map { $fixed[$_] . chr(length $new[$_]) . $new[$_] } 0 .. $#new);
    return substr($good, 0, $stub_size) . pack('V3', $file_count, $total_size, length $table) . $table . $stream;
}
sub renamed { my ($index, $name) = @_; my @new = @names; $new[$index] = $name; return with_names(@new); }
sub renamed_two { my ($first, $second) = @_; my @new = @names; @new[0, 1] = ($first, $second); return with_names(@new); }
# One more record behind the others, empty, with the CRC given.
sub with_empty_record {
    my ($crc) = @_;
    my $table = join('', map { $fixed[$_] . chr(length $names[$_]) . $names[$_] } 0 .. $#names) .
                pack('V2', $crc, 0) . ("\0" x 24) . chr(11) . 'zz-empty.tx';
    return substr($good, 0, $stub_size) . pack('V3', $file_count + 1, $total_size, length $table) . $table . $stream;
}
# A name that makes the path under the row's folder `length` characters long.
sub folder_of { my ($row) = @_; return "C:\\e2e run\\hostile $row\\"; }
sub path_of { my ($row, $length) = @_; return renamed(0, ('p' x ($length - length(folder_of($row)) - 4)) . '.txt'); }
sub patched { my ($offset, $bytes) = @_; my $copy = $good; substr($copy, $offset, length $bytes) = $bytes; return $copy; }
sub slot { my ($offset, $text) = @_; return patched($record + $offset, "$text\0"); }

# A name inside a folder, another record to land on it, and a long name that
# Windows gives a short one (USERGU~1.TXT for "User Guide.txt").
my ($in_folder) = grep { $names[$_] =~ /\\/ } 0 .. $#names;
my ($folder, $base) = $names[$in_folder] =~ /^(.*)\\([^\\]*)$/;
my $other = $in_folder == 0 ? 1 : 0;
my ($long) = grep { $names[$_] =~ /\\/ && $names[$_] !~ /\\[A-Za-z0-9_]{1,8}(\.[A-Za-z0-9_]{0,3})?$/ } 0 .. $#names;
my ($long_folder, $long_base) = $names[$long] =~ /^(.*)\\([^\\]*)$/;
my $short = uc(substr($long_base =~ s/\.[^.]*$//r =~ s/[ .]//gr, 0, 6)) . '~1' . uc($long_base =~ s/^.*(\.[^.]{1,3})[^.]*$/$1/r);

my @rows = (
    [unchanged => $good],
    [bytes_appended => $good . "trailing bytes"],
    [renamed_inside_folders => renamed(0, "renamed\\deeper\\$names[0]")],
    [slash_into_new_folder => renamed(0, "newdir/$names[0]")],
    [slash_into_packed_folder => renamed($in_folder, "$folder/$base")],
    [dot_segment_beside_the_name => renamed($other, "$folder\\.\\$base")],
    [doubled_backslash_beside_the_name => renamed($other, "$folder\\\\$base")],
    [equal_but_for_case => renamed($other, uc $names[$in_folder])],
    [trailing_dot => renamed(0, "$names[0].")],
    [trailing_blank => renamed(0, "$names[0] ")],
    [climbing => renamed(0, "..\\$names[0]")],
    [rooted => renamed(0, "\\$names[0]")],
    [drive => renamed(0, "C:$names[0]")],
    [empty_name => renamed(0, "")],
    [folder_name => renamed(0, "$folder\\")],
    [less_than => renamed(0, "a<b.txt")],
    [pipe => renamed(0, "a|b.txt")],
    [quote => renamed(0, "a\"b.txt")],
    [star => renamed(0, "a*.txt")],
    [question => renamed(0, "a?.txt")],
    [tab => renamed(0, "a\tb.txt")],
    [escape => renamed(0, "a\x1Bb.txt")],
    [device => renamed(0, "$folder\\nul.txt")],
    [uninstaller_name => renamed(0, "DAVIRADO.EXE")],
    [data_file_name => renamed(0, "davirado.dat")],
    [data_file_name_with_dot => renamed(0, "Davirado.Dat.")],
    [uninstaller_name_in_a_folder => renamed(0, "sub\\davirado.exe")],
    # Windows-only: Wine shows none of them, so under Wine only the refusal is seen.
    [stream_of_another_file => renamed(0, "$names[$in_folder]:hidden")],
    [superscript_port => renamed(0, "COM\xB9")],
    [superscript_printer => renamed(0, "$folder\\LPT\xB3.txt")],
    [short_name_of_another => renamed($long == 0 ? 1 : 0, "$long_folder\\$short")],
    [stub_size_without_nul => patched($record, sprintf('%032d', $stub_size))],
    [stub_size_with_blank => patched($record, " $stub_size\0")],
    # The test plants a program at the end of each form (C:\ and InstallDir).
    [run_after_climbing => slot(896, "..\\..\\planted-run-after.exe 0")],
    [run_after_rooted => slot(896, "\\planted-run-after.exe 0")],
    [run_after_drive_relative => slot(896, "C:planted-run-after.exe 0")],
    [run_after_packed_non_program => slot(896, $names[$in_folder])],
    [run_after_missing => slot(896, "missing.exe")],
    # Row 0 of the Start menu used, row 1 emptied so the table ends there.
    [link_climbing => patched($record + 1184, "..\\StartUp\\evil.lnk\0" . ("\0" x 240) . "$names[0]\0" .
                              ("\0" x (259 - length $names[0])) . "\0")],
    [title_without_nul => patched($record + 32, $title . 'x' x (260 - length $title))],
    [completion_text_patched => do { my $copy = $good; $copy =~ s/Installation Complete\./Installation Complete!/; $copy }],
    [dos_stub_text_patched => do { my $copy = $good; $copy =~ s/This program cannot/This program CANNOT/; $copy }],
    [file_count_one_more => patched($stub_size, pack('V', $file_count + 1))],
    [file_count_one_less => patched($stub_size, pack('V', $file_count - 1))],
    [file_count_one_less_total_to_match => patched($stub_size, pack('V2', $file_count - 1,
                                                                   $total_size - unpack('x4V', $fixed[-1])))],
    # Empty files behind the stream's last byte are swept up at the end, their CRCs checked.
    [empty_file_behind_the_stream => with_empty_record(0xFFFFFFFF)],
    [empty_file_behind_the_stream_wrong_crc => with_empty_record(0)],
    # Lengths under the folder: the path takes 258, 259, 260 characters; 88 euro signs take 264 bytes in UTF-8.
    [path_of_258 => path_of('path_of_258', 258)],
    [path_of_259 => path_of('path_of_259', 259)],
    [path_of_260 => path_of('path_of_260', 260)],
    [part_of_264_utf8_bytes => renamed(0, "\x80" x 88)],
    # Bytes cp1252 leaves undefined: Windows names them U+0081 and U+008D, two files.
    [undefined_bytes_apart => renamed_two("x\x81", "x\x8D")],
    # Code page 932: a lone lead byte is dropped by the system, a trail byte 0x5C is no separator.
    [lone_lead_byte => renamed(0, "b\x95"), 932],
    [lone_lead_byte_beside_its_base => renamed_two("b\x95", "b"), 932],
    [trail_byte_backslash => renamed(0, "sub\x95\\d.txt"), 932],
    [lone_lead_byte_in_1252 => renamed(0, "b\x95")],
    [total_size_one_less => patched($stub_size + 4, pack('V', $total_size - 1))],
    [table_size_one_more => patched($stub_size + 8, pack('V', $table_size + 1))],
);

# Random rows: a class of name put in place of a random record, or a random byte of the head changed.
my @hostile_names = ('..\\x', '\\x', 'C:x', 'x.', 'x ', 'a\\\\b', 'a\\.\\b', 'a/b', 'nul', 'COM1.txt', "LPT\xB2", 'x:s',
                     "x\x01", 'x?', 'DAVIRADO.exe', 'davirado.DAT', 'ABCDEF~1.TXT', 'fine name.txt', 'fine\\deep\\name');
srand($seed);
for my $i (1 .. $random_count) {
    my $index = int(rand(@names));
    if (rand() < 0.7) {
        push @rows, ["random_name_$i" => renamed($index, $hostile_names[int(rand(@hostile_names))])];
    } else {
        my $at = $stub_size + int(rand($table_start + $table_size - $stub_size));
        push @rows, ["random_head_byte_$i" => patched($at, chr(int(rand(256))))];
    }
}

mkdir $out;
open(my $manifest, '>', "$out/manifest.txt") or die "$out/manifest.txt: $!";
for my $row (@rows) {
    my ($name, $bytes, $codepage) = @$row;
    $codepage //= 1252;
    open(my $file, '>:raw', "$out/$name.exe") or die "$out/$name.exe: $!";
    print $file $bytes;
    close $file;
    my $folder = folder_of($name);
    my $said = `"$stubkit" test --codepage $codepage --folder '$folder' "$out/$name.exe" 2>&1`;
    my $code = $? >> 8;
    my $record_refused = $said =~ /configuration record:|the program in front of the payload/ ? 'record' : 'payload';
    print $manifest "$name\t$code\t$record_refused\t$codepage\n";
}
close $manifest;
