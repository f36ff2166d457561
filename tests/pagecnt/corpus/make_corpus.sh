#!/bin/sh
# Renders PostScript programs of known page count and paper size with
# Ghostscript into every language that pagecnt.dll counts, and writes
# manifest.txt beside them, a line per file:
#   FILE LANGUAGE PAGES PAPER COPIES
# PAPER is the DMPAPER code of the first page, COPIES what the file asks
# for ("-" where Ghostscript writes its own default and it is not checked).
#
#   make_corpus.sh OUTDIR           the corpus of the tests (a few seconds)
#   make_corpus.sh --bench OUTDIR   one file of 50 MB or more per language,
#                                   and text-heavy PostScript from groff
set -eu

bench=
if [ "${1:-}" = "--bench" ]; then bench=1; shift; fi
out=${1:?usage: make_corpus.sh [--bench] OUTDIR}
command -v gs >/dev/null || { echo "make_corpus.sh: gs (Ghostscript) is missing" >&2; exit 1; }
rm -rf "$out"
mkdir -p "$out/src"

# document NAME PAGES WIDTH HEIGHT [WIDTH2 HEIGHT2]: a program of PAGES
# pages, the first WIDTH x HEIGHT points and the rest WIDTH2 x HEIGHT2.
# Every page has text, lines, a grey and a coloured area and a small image,
# so that each device writes raster, and every page has marks on it.
document() {
  name=$1 pages=$2 w=$3 h=$4 w2=${5:-$3} h2=${6:-$4}
  cat >"$out/src/$name.ps" <<PS
%!PS
/Helvetica findfont 18 scalefont setfont
1 1 $pages {
  /n exch def
  << /PageSize n 1 eq { [$w $h] } { [$w2 $h2] } ifelse >> setpagedevice
  0 setgray 72 72 moveto (Page ) show n 4 string cvs show
  ( of $name) show
  2 setlinewidth 72 120 moveto 300 400 lineto 500 130 lineto stroke
  0.6 setgray 100 200 150 100 rectfill
  1 0 0 setrgbcolor 300 220 80 60 rectfill
  0 setgray
  gsave 320 300 translate 96 96 scale
  16 16 8 [16 0 0 16 0 0] { <00ff80407f3f1f0f> } image grestore
  1 1 20 { /i exch def 72 500 i 12 mul add moveto (line ) show i 3 string cvs show } for
  showpage
} for
PS
}

# render DOCUMENT DEVICE LANGUAGE PAGES PAPER COPIES [gs options...]
jobs=$out/src/jobs
: >"$jobs"
render() {
  doc=$1 device=$2; shift 2
  language=$1 pages=$2 paper=$3 copies=$4; shift 4
  file=$doc.$device
  case " $* " in *NumCopies*) file=$doc-copies.$device ;; esac
  echo "$file $language $pages $paper $copies" >>"$out/manifest.txt"
  # No blank at the end of the line, which xargs would take for a
  # continuation.
  echo "$out/src/$doc.ps $out/$file $device${*:+ $*}" >>"$jobs"
}

# Each device of a language: as laser printer drivers write PCL 5e (ljet4,
# with PJL ljet4pjl, duplex ljet4d, the older ljet3), PCL 5c (cljet5),
# the PCL 3 of ink-jets (deskjet), PCL XL (pxlmono, pxlcolor, and the
# older lj5gray), PDF, PostScript and XPS.
pcl5="ljet4 ljet4pjl ljet4d ljet3 cljet5 deskjet"
pclxl="pxlmono pxlcolor lj5gray"
all() {
  doc=$1 pages=$2 paper=$3
  for d in $pcl5; do
    # The colour LaserJet driver knows Letter and A4 only.
    case "$d:$paper" in cljet5:1 | cljet5:9 | ljet*:* | deskjet:*) ;; *) continue ;; esac
    render "$doc" "$d" PCL5 "$pages" "$paper" - -r300
  done
  for d in $pclxl; do render "$doc" "$d" PCLXL "$pages" "$paper" - -r150; done
  render "$doc" pdfwrite PDF "$pages" "$paper" -
  render "$doc" ps2write PostScript "$pages" "$paper" -
  render "$doc" xpswrite XPS "$pages" "$paper" -
}

if [ -z "$bench" ]; then
  : >"$out/manifest.txt"
  document letter3 3 612 792;             all letter3 3 1
  document a4-5 5 595 842;                all a4-5 5 9
  document a3-2 2 842 1191;               all a3-2 2 8
  document a5-4 4 420 595;                all a5-4 4 11
  document legal1 1 612 1008;             all legal1 1 5
  document a4-landscape2 2 842 595;       all a4-landscape2 2 9
  document a4-then-letter3 3 595 842 612 792; all a4-then-letter3 3 9
  # Copies that the driver writes into the file.
  render a4-5 ljet4 PCL5 5 9 2 -r300 -dNumCopies=2
  render a4-5 pxlmono PCLXL 5 9 2 -r150 -dNumCopies=2
else
  # 120 A4 pages, each mostly an image of noise, which no writer can
  # compress much: 50 MB and more in every language.
  cat >"$out/src/noise.ps" <<'PS'
%!PS
<< /PageSize [595 842] >> setpagedevice
/Helvetica findfont 18 scalefont setfont
/row 600 string def
1 1 120 {
  /n exch def
  72 800 moveto (Page ) show n 4 string cvs show
  gsave 36 36 translate 520 740 scale
  600 800 8 [600 0 0 800 0 0] { 0 1 599 { row exch rand -7 bitshift 255 and put } for row } image
  grestore
  showpage
} for
PS
  : >"$out/manifest.txt"
  render noise pdfwrite PDF 120 9 -
  render noise ps2write PostScript 120 9 -
  render noise xpswrite XPS 120 9 -
  render noise ljet4 PCL5 120 9 - -r300
  render noise pxlmono PCLXL 120 9 - -r300
fi

# One rendering at a time per processor core.
n=$(nproc 2>/dev/null || echo 2)
xargs -P "$n" -L 1 sh -c 'in=$1 o=$2 d=$3; shift 3
  gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE="$d" "$@" -sOutputFile="$o" "$in"' sh <"$jobs"

if [ -n "$bench" ]; then
  awk 'BEGIN { for (p = 1; p <= 15000; p++) { for (l = 1; l <= 58; l++)
         printf "Page %d line %d: the quick brown fox jumps over the lazy dog\n", p, l
       printf "\f" } }' >"$out/noise.txt"
  echo "noise.txt text 15000 0 -" >>"$out/manifest.txt"
  # PostScript as older drivers write images: hex data that the program
  # reads with readhexstring, 60 pages of 480,000 noise bytes each.
  {
    printf '%%!PS-Adobe-3.0\n%%%%Pages: 60\n%%%%EndComments\n/picstr 600 string def\n'
    p=1
    while [ $p -le 60 ]; do
      printf '%%%%Page: %d %d\ngsave 72 72 translate 450 600 scale\n' $p $p
      printf '600 800 8 [600 0 0 -800 0 800] {currentfile picstr readhexstring pop} image\n'
      head -c 480000 /dev/urandom | od -An -v -tx1 | tr -d ' \n' | fold -w 80
      printf '\ngrestore showpage\n'
      p=$((p + 1))
    done
    printf '%%%%EOF\n'
  } >"$out/noise-hex.ps"
  echo "noise-hex.ps PostScript 60 0 -" >>"$out/manifest.txt"
  # Text-heavy PostScript as groff writes it: some 8,800 A4 pages of
  # paragraphs, 50 MB and more of short strings and numbers.
  if command -v groff >/dev/null; then
    awk 'BEGIN { for (s = 1; s <= 12500; s++) { print ".SH"; print "Section " s
           for (p = 1; p <= 12; p++) { print ".PP"
             print "Paragraph " p " of section " s ", in which the quick brown fox jumps over"
             print "the lazy dog, and (parentheses) and numbers 12.5 and 3/4 follow."
             print "More text runs on to fill the page with words, as a memo or a manual would." } } }' |
      groff -ms -Tps -dpaper=a4 -P-pa4 >"$out/noise-groff.ps"
    echo "noise-groff.ps PostScript 0 9 -" >>"$out/manifest.txt"
  fi
fi
rm -rf "$out/src"
