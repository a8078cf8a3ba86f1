#!/usr/bin/env bash
# earlier-release.sh EXE A.B.C.D OUT
# A copy of the program that poses as an earlier release: its version
# resource says A.B.C.D (FILEVERSION, PRODUCTVERSION and their texts
# "A.BB.DDDD"); its other bytes are this build's. An update must replace it
# by version; bytes that differ show that it did.
set -euo pipefail
exe=$1 version=$2 out=$3
mkdir -p "$(dirname "$out")"
IFS=. read -r a b c d <<< "$version"
perl -e '
    use strict; use Encode qw(encode);
    my ($in, $out, $a, $b, $c, $d) = @ARGV;
    local $/; open(my $fh, "<:raw", $in) or die "$in: $!"; my $bytes = <$fh>; close $fh;
    my $fixed = index($bytes, pack("V", 0xFEEF04BD));
    die "earlier-release: no fixed version information in $in\n" if $fixed < 0;
    my ($ms, $ls) = unpack("VV", substr($bytes, $fixed + 8, 8));
    my $old = sprintf("%d.%02d.%04d", $ms >> 16, $ms & 0xFFFF, $ls & 0xFFFF);
    my $new = sprintf("%d.%02d.%04d", $a, $b, $d);
    die "earlier-release: $old and $new differ in length\n" if length($old) != length($new);
    substr($bytes, $fixed + 8, 16) = pack("VVVV", ($a << 16) | $b, ($c << 16) | $d, ($a << 16) | $b, ($c << 16) | $d);
    my ($from, $to) = (encode("UTF-16LE", $old), encode("UTF-16LE", $new));
    my $texts = ($bytes =~ s/\Q$from\E/$to/g);
    die "earlier-release: $texts version texts \"$old\" in $in, expected 2\n" if $texts != 2;
    open($fh, ">:raw", "$out.tmp") or die "$out: $!"; print $fh $bytes; close $fh or die "$out: $!";
' "$exe" "$out" "$a" "$b" "$c" "$d"
mv "$out.tmp" "$out"
