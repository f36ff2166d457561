// bench_pagecnt.exe FILE...: MB/s of GetPageCount on each file beside the
// rate of reading the same file from start to end in the same run, and the
// ratio of the two. Each figure is the best of a few runs, so that both
// read from the file cache.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "file_view.h"
#include "format_dispatch.h"
#include "pagecnt.h"

namespace {

constexpr int kRuns = 3;

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(to.QuadPart - from.QuadPart) / frequency.QuadPart;
}

// Reads the file in 1 MB blocks, as plainly as a program can.
double PlainRead(const char* name, uint64_t& bytes) {
  HANDLE file = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  std::vector<char> buffer(1 << 20);
  LARGE_INTEGER start, end;
  QueryPerformanceCounter(&start);
  bytes = 0;
  DWORD got = 0;
  while (ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) &&
         got > 0) {
    bytes += got;
  }
  QueryPerformanceCounter(&end);
  CloseHandle(file);
  return Seconds(start, end);
}

}  // namespace

int main(int argc, char** argv) {
  HMODULE module = LoadLibraryA("pagecnt");
  auto get_page_count = module ? reinterpret_cast<PFN_GET_PAGE_COUNT>(reinterpret_cast<void*>(
                                     GetProcAddress(module, "GetPageCount")))
                               : nullptr;
  if (!get_page_count || argc < 2) {
    std::fprintf(stderr, "usage: bench_pagecnt FILE... (pagecnt.dll beside it)\n");
    return 2;
  }
  std::printf("%-12s %9s %9s %12s %12s %7s  %s\n", "language", "MB", "pages",
              "read MB/s", "count MB/s", "ratio", "file");
  for (int i = 1; i < argc; ++i) {
    uint64_t bytes = 0;
    double read = 1e9;
    double count = 1e9;
    PAGE_COUNT_RESULT result = {};
    for (int run = 0; run < kRuns; ++run) {
      read = std::min(read, PlainRead(argv[i], bytes));
      LARGE_INTEGER start, end;
      QueryPerformanceCounter(&start);
      result = {};
      get_page_count(argv[i], "Bench", &result);
      QueryPerformanceCounter(&end);
      count = std::min(count, Seconds(start, end));
    }
    pagecnt::FileView file;
    pagecnt::PageCount details;
    if (file.Open(argv[i])) pagecnt::CountPrintFile(file, details);
    double megabytes = bytes / 1048576.0;
    double read_rate = megabytes / std::max(read, 1e-9);
    double count_rate = megabytes / std::max(count, 1e-9);
    std::printf("%-12s %9.1f %9u %12.0f %12.0f %7.2f  %s\n", pagecnt::FormatName(details.format),
                megabytes, result.dwPages, read_rate, count_rate, count_rate / read_rate, argv[i]);
  }
  return 0;
}
