#include "database/append_seam.h"

namespace {

PFN_BEFORE_APPEND g_pfnBeforeAppend = nullptr;
void* g_pBeforeAppendContext = nullptr;

}  // namespace

void SetBeforeAppendSeam(PFN_BEFORE_APPEND pfn, void* pContext) {
  g_pfnBeforeAppend = pfn;
  g_pBeforeAppendContext = pContext;
}

void RunBeforeAppendSeam(const char* pszTable) {
  if (g_pfnBeforeAppend) g_pfnBeforeAppend(g_pBeforeAppendContext, pszTable);
}
