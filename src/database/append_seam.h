// A test seam in the registrations, the user append and the printer links:
// the moment between "no row has this key" and the append of one, where in
// a deployment another service may append the same key. A test sets a
// function here to play that service; the service itself never does.
#pragma once

// Called with the table's name on the appending thread, which holds the
// connection; the function must use a connection of its own.
using PFN_BEFORE_APPEND = void (*)(void* pContext, const char* pszTable);

// Sets the function (null removes it); not for use while appends run.
void SetBeforeAppendSeam(PFN_BEFORE_APPEND pfn, void* pContext);

// Runs the function set, if any.
void RunBeforeAppendSeam(const char* pszTable);
