#!/bin/sh
# Print files from real producers: Debian's printer drivers run as CUPS
# filters (no CUPS daemon), and PDF and PostScript from poppler, cairo,
# qpdf, MuPDF, groff, enscript, FOP and Ghostscript, as spoolers and filters
# hand them on. Writes manifest.txt beside them, a line per file:
#   FILE LANGUAGE PAGES PAPER COPIES PRODUCER TRUTH
# LANGUAGE as the counters name it (PDF, PostScript, PCL5, PCLXL, HPGL2);
# "none" for a language without a counter, whose PAGES are 0: it must not
# be counted. PAPER is the DMPAPER code of the first page and COPIES what
# the file asks for, "-" where the file does not state it. TRUTH says how
# PAGES was checked, independently of the counters:
#   source   the page count of the document the producer was given, read
#            by poppler (pdfinfo) and qpdf, or for PostScript by
#            Ghostscript's bbox device, which must agree
#   log      the driver's own page log (the PAGE: lines a CUPS filter
#            writes), which must equal the source's count
#   sum      the jobs of a file made by joining others, added up
# The script stops when a check fails.
#
#   make_real_corpus.sh OUTDIR
# Installs the producers it needs. The files depend only on this script
# and the packages: a run whose OUTDIR holds a complete corpus made by the
# same script is skipped (the build tree keeps it between runs).
set -eu

out=${1:?usage: make_real_corpus.sh OUTDIR}
here=$(cd "$(dirname "$0")" && pwd)
stamp=$(cat "$0" | cksum | cut -d' ' -f1)
if [ -f "$out/manifest.txt" ] && [ "$(cat "$out/.made-by" 2>/dev/null)" = "$stamp" ]; then
  exit 0
fi

packages="ghostscript poppler-utils qpdf mupdf-tools groff enscript pstoedit fop cups-filters
  cups-filters-core-drivers cups-core-drivers cups-ppdc
  printer-driver-hpcups printer-driver-pxljr printer-driver-foo2zjs openprinting-ppds"
missing=
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' ||
    missing="$missing $p"
done
if [ -n "$missing" ]; then
  sudo=
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
    $missing >/dev/null
fi

rm -rf "$out"
mkdir -p "$out/src"
src=$out/src
manifest=$out/manifest.txt
: >"$manifest"
filters=/usr/lib/cups/filter

fail() { echo "make_real_corpus.sh: $*" >&2; exit 1; }

# The second readers.
pdf_pages() {  # FILE [PASSWORD]
  a=$(pdfinfo ${2:+-upw "$2"} "$1" 2>/dev/null | awk '/^Pages:/ { print $2 }')
  b=$(qpdf ${2:+--password="$2"} --show-npages "$1" 2>/dev/null)
  [ "$a" = "$b" ] || fail "$1: pdfinfo says $a pages, qpdf $b"
  echo "$a"
}
ps_pages() {  # FILE: the pages Ghostscript prints
  gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=bbox "$1" 2>&1 | grep -c '^%%BoundingBox'
}
log_pages() {  # LOG: the PAGE: lines of a CUPS filter (some follow other text)
  grep -ao 'PAGE: [0-9]* [0-9]*' "$1" | wc -l
}

# add FILE LANGUAGE PAGES PAPER COPIES PRODUCER TRUTH
add() {
  [ -s "$out/$1" ] || fail "$1 is missing or empty"
  echo "$*" >>"$manifest"
}

# expect WHAT GOT WANTED
expect() {
  [ "$2" = "$3" ] || fail "$1: $2 pages, but the source has $3"
}

# The documents. Every page has text, lines and filled areas, so that
# every driver prints every page (no blank page that a printer skips).
document() {  # NAME PAGES WIDTH HEIGHT
  cat >"$src/$1.ps" <<PS
%!PS
<< /PageSize [$3 $4] >> setpagedevice
/Helvetica findfont 20 scalefont setfont
1 1 $2 {
  /n exch def
  72 $4 100 sub moveto (Page ) show n 4 string cvs show ( of $1) show
  2 setlinewidth 72 120 moveto 300 400 lineto 500 130 lineto stroke
  0.5 setgray 100 200 150 100 rectfill 1 0 0 setrgbcolor 300 220 80 60 rectfill 0 setgray
  1 1 12 { /i exch def 72 500 i 14 mul add moveto (line ) show i 3 string cvs show } for
  showpage
} for
PS
  gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile="$src/$1.pdf" "$src/$1.ps"
  expect "$1.pdf" "$(pdf_pages "$src/$1.pdf")" "$2"
}
document a4-4 4 595 842
document letter-3 3 612 792

# PDF as other programs write it.
cp "$src/a4-4.pdf" "$out/a4-4.gs.pdf"
add a4-4.gs.pdf PDF 4 9 - ghostscript-pdfwrite source
pdftocairo -pdf "$src/a4-4.pdf" "$out/a4-4.cairo.pdf"
add a4-4.cairo.pdf PDF "$(pdf_pages "$out/a4-4.cairo.pdf")" 9 - poppler-cairo source
mutool clean -gg "$src/letter-3.pdf" "$out/letter-3.mupdf.pdf" 2>/dev/null
add letter-3.mupdf.pdf PDF "$(pdf_pages "$out/letter-3.mupdf.pdf")" 1 - mupdf-clean source
qpdf --linearize "$src/a4-4.pdf" "$out/a4-4.linearized.pdf"
add a4-4.linearized.pdf PDF "$(pdf_pages "$out/a4-4.linearized.pdf")" 9 - qpdf-linearize source
qpdf --object-streams=generate "$src/letter-3.pdf" "$out/letter-3.objstm.pdf"
add letter-3.objstm.pdf PDF "$(pdf_pages "$out/letter-3.objstm.pdf")" 1 - qpdf-object-streams source

# Encrypted with the empty user password, with and without object streams:
# RC4 40 and 128 bits, AES-128, AES-256 (revision 6, and 5 as older
# writers made it). A document that needs a password cannot be counted.
for streams in preserve generate; do
  for cipher in "40" "128" "128 --use-aes=y" "256" "256 --force-R5"; do
    name=a4-4.enc-$(echo "$cipher" | tr -d ' =-' | sed 's/useaesy/aes/; s/forceR5/r5/')-$streams.pdf
    # shellcheck disable=SC2086
    qpdf --allow-weak-crypto --object-streams=$streams --encrypt "" owner $cipher -- \
      "$src/a4-4.pdf" "$out/$name"
    add "$name" PDF "$(pdf_pages "$out/$name")" 9 - qpdf-encrypt source
  done
done
qpdf --object-streams=generate --encrypt secret owner 256 -- "$src/a4-4.pdf" "$out/a4-4.enc-password.pdf"
expect a4-4.enc-password.pdf "$(pdf_pages "$out/a4-4.enc-password.pdf" secret)" 4
add a4-4.enc-password.pdf none 0 - - qpdf-encrypt-password source

# PostScript from poppler, cairo and Ghostscript.
pdftops -paper A4 "$src/a4-4.pdf" "$out/a4-4.poppler.ps"
expect a4-4.poppler.ps "$(ps_pages "$out/a4-4.poppler.ps")" 4
add a4-4.poppler.ps PostScript 4 9 - poppler-pdftops source
pdftocairo -ps "$src/letter-3.pdf" "$out/letter-3.cairo.ps"
expect letter-3.cairo.ps "$(ps_pages "$out/letter-3.cairo.ps")" 3
add letter-3.cairo.ps PostScript 3 1 - poppler-cairo source

# groff and enscript, text-heavy; and the same with the structuring
# comments dropped, as filters that pass only the program do: then their
# pages end in procedures of their own (groff's EP, enscript's S).
i=1
while [ $i -le 6 ]; do
  echo ".bp"
  echo ".SH"
  echo "Section $i"
  j=1
  while [ $j -le 30 ]; do
    echo ".PP"
    echo "Paragraph $j of section $i, in which the quick brown fox jumps over the lazy dog"
    echo "and the text runs on long enough to fill most of a page with words."
    j=$((j + 1))
  done
  i=$((i + 1))
done | sed '1d' >"$src/memo.ms"
groff -ms -Tps -dpaper=a4 -P-pa4 "$src/memo.ms" >"$out/memo.groff.ps"
groff -ms -Tpdf -dpaper=a4 -P-pa4 "$src/memo.ms" >"$src/memo.groff.pdf"
pages=$(pdf_pages "$src/memo.groff.pdf")
expect memo.groff.ps "$(ps_pages "$out/memo.groff.ps")" "$pages"
add memo.groff.ps PostScript "$pages" 9 - groff source
grep -av '^%%' "$out/memo.groff.ps" >"$out/memo.groff-nocomments.ps"
expect memo.groff-nocomments.ps "$(ps_pages "$out/memo.groff-nocomments.ps")" "$pages"
add memo.groff-nocomments.ps PostScript "$pages" - - groff-without-comments source

seq 1 330 | sed 's/^/A line of a listing that enscript sets in pages: /' >"$src/listing.txt"
enscript -q -M A4 -o "$out/listing.enscript.ps" "$src/listing.txt"
enscript -M A4 -o /dev/null "$src/listing.txt" 2>"$src/enscript.log"
# enscript's own log: "[ 6 pages * 1 copy ]".
pages=$(sed -n 's/.*\[ \([0-9]*\) pages.*/\1/p' "$src/enscript.log")
expect listing.enscript.ps "$(ps_pages "$out/listing.enscript.ps")" "$pages"
add listing.enscript.ps PostScript "$pages" 9 - enscript log
grep -av '^%%' "$out/listing.enscript.ps" >"$out/listing.enscript-nocomments.ps"
expect listing.enscript-nocomments.ps "$(ps_pages "$out/listing.enscript-nocomments.ps")" "$pages"
add listing.enscript-nocomments.ps PostScript "$pages" - - enscript-without-comments log

# FOP (XSL-FO to PostScript and PDF), text-heavy too; its own log names
# every page it renders.
{
  echo '<?xml version="1.0"?>'
  echo '<fo:root xmlns:fo="http://www.w3.org/1999/XSL/Format"><fo:layout-master-set>'
  echo '<fo:simple-page-master master-name="A4" page-width="210mm" page-height="297mm" margin="20mm">'
  echo '<fo:region-body/></fo:simple-page-master></fo:layout-master-set>'
  echo '<fo:page-sequence master-reference="A4"><fo:flow flow-name="xsl-region-body">'
  i=1
  while [ $i -le 120 ]; do
    echo "<fo:block space-after=\"6pt\">Paragraph $i: the quick brown fox jumps over the lazy dog,"
    echo "and the text runs on to fill most of a page with words. (Parentheses) and 12.5 follow.</fo:block>"
    i=$((i + 1))
  done
  echo '</fo:flow></fo:page-sequence></fo:root>'
} >"$src/memo.fo"
fop -fo "$src/memo.fo" -ps "$out/memo.fop.ps" >"$src/fop.log" 2>&1
pages=$(sed -n 's/.*Rendered page #\([0-9]*\).*/\1/p' "$src/fop.log" | sort -n | tail -1)
expect memo.fop.ps "$(ps_pages "$out/memo.fop.ps")" "$pages"
add memo.fop.ps PostScript "$pages" 9 - fop log
fop -q -fo "$src/memo.fo" -pdf "$out/memo.fop.pdf" >/dev/null 2>&1
expect memo.fop.pdf "$(pdf_pages "$out/memo.fop.pdf")" "$pages"
add memo.fop.pdf PDF "$pages" 9 - fop log

# PJL-wrapped jobs as CUPS filters write them for printers whose PPD has
# job control lines: PostScript (pstops) with 2 copies, and PDF (pdftopdf).
/usr/lib/cups/driver/openprinting-ppds cat \
  "openprinting-ppds:0/ppd/openprinting/Brother/BR2600CN_GPL.ppd" >"$src/pjl-ps.ppd"
PPD=$src/pjl-ps.ppd $filters/pstops 1 user memo 2 "PageSize=A4" "$out/a4-4.poppler.ps" \
  >"$out/a4-4.pstops-pjl.prn" 2>"$src/pstops.log"
expect a4-4.pstops-pjl.prn "$(log_pages "$src/pstops.log")" 4
add a4-4.pstops-pjl.prn PostScript 4 9 2 cups-pstops-pjl log
PPD=/usr/share/ppd/cupsfilters/HP-Color_LaserJet_CM3530_MFP-PDF.ppd $filters/pdftopdf \
  1 user memo 1 "PageSize=A4" "$src/a4-4.pdf" >"$out/a4-4.pdftopdf-pjl.prn" 2>/dev/null
add a4-4.pdftopdf-pjl.prn PDF "$(pdf_pages "$src/a4-4.pdf")" 9 - cups-pdftopdf-pjl source

# Drivers. HP's hpcups takes CUPS raster, which Ghostscript's filter makes
# for the printer's PPD; the PPDs come from the driver's own .drv file.
ppds=$src/ppd
mkdir -p "$ppds"
ppdc -d "$ppds" /usr/share/cups/drv/hpcups.drv 2>/dev/null
# hpcups MODEL PDF NAME PAGESIZE COPIES: the driver's output, checked
# against its page log.
hpcups() {
  model=$1 pdf=$2 name=$3 size=$4 copies=$5
  ppd=$ppds/$model.ppd
  [ -f "$ppd" ] || fail "no PPD for $model"
  PPD=$ppd $filters/gstoraster 1 user "$name" "$copies" "PageSize=$size" <"$pdf" \
    >"$src/$name.ras" 2>/dev/null
  PPD=$ppd $filters/hpcups 1 user "$name" "$copies" "PageSize=$size" "$src/$name.ras" \
    >"$out/$name" 2>"$src/$name.log"
  rm -f "$src/$name.ras"
  log_pages "$src/$name.log"
}
# JetReady (colour LaserJet 3600), FastRaster (LaserJet 1010): PCL XL with
# HP's vendor-unique operator.
expect jetready "$(hpcups hp-color_laserjet_3600 "$src/a4-4.pdf" a4-4.hpcups-jetready.prn A4 1)" 4
add a4-4.hpcups-jetready.prn PCLXL 4 9 1 hpcups-ljjetready log
expect jetready "$(hpcups hp-color_laserjet_3600 "$src/letter-3.pdf" letter-3.hpcups-jetready.prn Letter 1)" 3
add letter-3.hpcups-jetready.prn PCLXL 3 1 1 hpcups-ljjetready log
expect fastraster "$(hpcups hp-laserjet_1010 "$src/a4-4.pdf" a4-4.hpcups-fastraster.prn A4 1)" 4
add a4-4.hpcups-fastraster.prn PCLXL 4 9 - hpcups-ljfastraster log
# PCL 5 of monochrome and colour LaserJets, PCL 3 of ink-jets.
expect ljmono "$(hpcups hp-laserjet_1015 "$src/a4-4.pdf" a4-4.hpcups-ljmono.prn A4 1)" 4
add a4-4.hpcups-ljmono.prn PCL5 4 9 - hpcups-ljmono log
expect ljcolor "$(hpcups hp-business_inkjet_2300-pcl3 "$src/letter-3.pdf" letter-3.hpcups-ljcolor.prn Letter 1)" 3
add letter-3.hpcups-ljcolor.prn PCL5 3 1 - hpcups-ljcolor log
expect pcl3gui "$(hpcups hp-business_inkjet_1000 "$src/a4-4.pdf" a4-4.hpcups-pcl3gui.prn A4 1)" 4
add a4-4.hpcups-pcl3gui.prn PCL5 4 9 - hpcups-pcl3gui log
expect pcl3 "$(hpcups apollo-2100 "$src/letter-3.pdf" letter-3.hpcups-pcl3.prn Letter 1)" 3
add letter-3.hpcups-pcl3.prn PCL5 3 1 - hpcups-pcl3 log
# What hpcups calls HBPL1 is PCLm, a PDF of raster strips.
expect hbpl1 "$(hpcups hp-color_laserjet_pro_mfp_m176n "$src/a4-4.pdf" a4-4.hpcups-pclm.prn A4 1)" 4
add a4-4.hpcups-pclm.prn PDF 4 9 - hpcups-hbpl1-pclm log
# A language without a counter: HP's LIDIL. (hpcups's ZjStream needs HP's
# closed plug-in; foo2hp's below stands for it.)
expect lidil "$(hpcups hp-910 "$src/letter-3.pdf" letter-3.hpcups-lidil.prn Letter 1)" 3
add letter-3.hpcups-lidil.prn none 0 - - hpcups-lidil log

# JetReady with JBIG data from the pxljr driver (colour LaserJet 3500),
# through Ghostscript's IJS device; its log is Ghostscript's page count.
gs -dSAFER -dBATCH -dNOPAUSE -sDEVICE=ijs -sIjsServer=ijs_pxljr \
  -sDeviceManufacturer=HEWLETT-PACKARD -sDeviceModel="hp color LaserJet 3500" \
  -dIjsUseOutputFD -sPAPERSIZE=a4 -r600 -sOutputFile="$out/a4-4.pxljr.prn" "$src/a4-4.pdf" \
  >"$src/pxljr.log" 2>&1
expect pxljr "$(grep -c '^Page [0-9]' "$src/pxljr.log")" 4
add a4-4.pxljr.prn PCLXL 4 9 - pxljr-jbig log

# A ZjStream of foo2zjs's colour LaserJet driver: no counter.
gs -q -dSAFER -dBATCH -dNOPAUSE -sPAPERSIZE=a4 -r600x600 -g4960x7016 -sDEVICE=bitcmyk \
  -sOutputFile=- "$src/a4-4.pdf" | foo2hp -r600x600 -g4960x7016 -p9 -c >"$out/a4-4.foo2hp.prn"
add a4-4.foo2hp.prn none 0 - - foo2hp source

# HP-GL/2 as plotters take it: GNU libplot's HP-GL/2 through pstoedit,
# one plot per page, each ended by PG.
pstoedit -q -f plot-hpgl "$out/letter-3.cairo.ps" "$out/letter-3.pstoedit.hpgl" 2>/dev/null
add letter-3.pstoedit.hpgl HPGL2 3 - - pstoedit-libplot source

# Several jobs in one file, as a spooler joins them: a PJL PostScript job,
# a JetReady job and a PCL 3 job. Reported as three jobs.
cat "$out/a4-4.pstops-pjl.prn" "$out/letter-3.hpcups-jetready.prn" "$out/a4-4.hpcups-pcl3gui.prn" \
  >"$out/three-jobs.prn"
add three-jobs.prn PostScript 11 9 2 joined sum

rm -rf "$src"
echo "$stamp" >"$out/.made-by"
