# The counters' sources that build on every platform, listed once for the
# Windows build (CMakeLists.txt here) and the native sanitizer and fuzz
# build (tests/pagecnt/fuzz). Paths are relative to this folder.
set(PAGECNT_PORTABLE_SOURCES
  src/format_dispatch.cpp
  src/file_view.cpp
  src/byte_source.cpp
  src/pjl.cpp
  src/paper_sizes.cpp
  src/flate.cpp
  src/pdf_object.cpp
  src/pdf_lexer.cpp
  src/pdf_parser.cpp
  src/pdf_stream.cpp
  src/pdf_xref.cpp
  src/pdf_xref_scan.cpp
  src/pdf_document.cpp
  src/pdf_page_tree.cpp
  src/pdf_counter.cpp
  src/pdf_security.cpp
  src/ascii85_run.cpp
  src/hex_lines_run.cpp
  src/ps_data_start.cpp
  src/ps_page_procedures.cpp
  src/program_text_run.cpp
  src/ps_scanner.cpp
  src/ps_counter.cpp
  src/pcl5_counter.cpp
  src/pclxl_counter.cpp
  src/text_counter.cpp
  src/text_run.cpp
  src/zip_archive.cpp
  src/xps_counter.cpp
)
