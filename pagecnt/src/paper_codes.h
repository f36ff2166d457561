// The DMPAPER_* paper size codes that the counters report.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
// The native build for the sanitizers has no Windows headers: the values
// the Win32 reference gives for DEVMODE's dmPaperSize.
#define DMPAPER_LETTER 1
#define DMPAPER_TABLOID 3
#define DMPAPER_LEGAL 5
#define DMPAPER_STATEMENT 6
#define DMPAPER_EXECUTIVE 7
#define DMPAPER_A3 8
#define DMPAPER_A4 9
#define DMPAPER_A5 11
#define DMPAPER_B4 12
#define DMPAPER_B5 13
#define DMPAPER_FOLIO 14
#define DMPAPER_QUARTO 15
#define DMPAPER_ENV_10 20
#define DMPAPER_ENV_DL 27
#define DMPAPER_ENV_C5 28
#define DMPAPER_ENV_B5 34
#define DMPAPER_ENV_MONARCH 37
#define DMPAPER_JAPANESE_POSTCARD 43
#define DMPAPER_A2 66
#define DMPAPER_A6 70
#endif
