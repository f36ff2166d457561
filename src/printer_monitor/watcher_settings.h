// How the printer watcher keeps its printers watched: the product's values
// by default; tests shorten them on their own service object.
#pragma once

#include <windows.h>

struct CWatcherSettings {
  // After a failed open, arm or fetch, a printer is tried again after this
  // pause, doubled at each further failure up to the longest pause.
  DWORD dwRetryFirstMs = 1000;
  DWORD dwRetryLongestMs = 60000;
  // Nothing guarantees that a change notification is signalled when the
  // spooler stops or restarts: a printer whose notification has not been
  // signalled for this long is fetched with a refresh anyway, which shows
  // whether its handles still work and brings its queue up to date.
  DWORD dwCheckMs = 10000;
};
