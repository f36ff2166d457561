// A library named like the page counter that lacks its entry point.
extern "C" __declspec(dllexport) int __cdecl CountSomethingElse() { return 0; }
