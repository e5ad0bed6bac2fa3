#!/usr/bin/perl
# Builds a Windows icon file (one 32x32 image, 4 bits per pixel, with its AND mask) from the
# text description in setup_icon.txt.   usage: make_icon.pl DESCRIPTION OUTPUT.ico
use strict;
use warnings;

my ($in, $out) = @ARGV;
die "usage: make_icon.pl DESCRIPTION OUTPUT.ico\n" unless defined $out;

# The 16 VGA colours, in the order that 16-colour bitmaps use.
my @palette = qw(000000 800000 008000 808000 000080 800080 008080 C0C0C0
                 808080 FF0000 00FF00 FFFF00 0000FF FF00FF 00FFFF FFFFFF);
my %index_of_rgb;
$index_of_rgb{$palette[$_]} = $_ for 0 .. 15;

open(my $fh, '<', $in) or die "make_icon: $in: $!\n";
my (%index, @rows, $in_pixels);
while (my $line = <$fh>) {
  chomp $line;
  $line =~ s/\r$//;
  if ($in_pixels) {
    push @rows, $line if length $line;
    next;
  }
  next if $line =~ /^\s*(#|$)/;
  if ($line =~ /^colour (\S) ([0-9A-Fa-f]{6})$/) {
    my $rgb = uc $2;
    die "make_icon: colour $rgb of '$1' is not a VGA colour\n" unless exists $index_of_rgb{$rgb};
    $index{$1} = $index_of_rgb{$rgb};
  } elsif ($line eq 'pixels') {
    $in_pixels = 1;
  } else {
    die "make_icon: $in: cannot read '$line'\n";
  }
}
close $fh;
die "make_icon: expected 32 rows of pixels, found " . scalar(@rows) . "\n" unless @rows == 32;

my ($xor, $and) = ('', '');
for my $y (reverse 0 .. 31) {    # bitmaps are stored bottom row first
  my $row = $rows[$y];
  die "make_icon: row $y is not 32 pixels wide\n" unless length $row == 32;
  my ($nibbles, $mask) = ('', '');
  for my $x (0 .. 31) {
    my $c = substr($row, $x, 1);
    if ($c eq '.') {
      $nibbles .= '0';
      $mask .= '1';
    } else {
      die "make_icon: row $y uses '$c', which has no colour\n" unless exists $index{$c};
      $nibbles .= sprintf('%X', $index{$c});
      $mask .= '0';
    }
  }
  $xor .= pack('H*', $nibbles);
  $and .= pack('B*', $mask);
}

my $colours = join('', map { pack('CCCC', hex(substr($_, 4, 2)), hex(substr($_, 2, 2)),
                                       hex(substr($_, 0, 2)), 0) } @palette);
# BITMAPINFOHEADER: the height counts the colour image and the mask together.
my $header = pack('VVVvvVVVVVV', 40, 32, 64, 1, 4, 0, length($xor) + length($and), 0, 0, 16, 0);
my $image = $header . $colours . $xor . $and;
# ICONDIR, then one ICONDIRENTRY whose image follows at offset 22.
my $file = pack('vvv', 0, 1, 1) . pack('CCCCvvVV', 32, 32, 16, 0, 1, 4, length $image, 22) . $image;

open(my $oh, '>:raw', "$out.tmp") or die "make_icon: $out: $!\n";
print $oh $file;
close $oh or die "make_icon: $out: $!\n";
rename "$out.tmp", $out or die "make_icon: $out: $!\n";
