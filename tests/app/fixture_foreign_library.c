/* Another program's felica_for_vb.dll: a DLL of that name without any of our entry points. */
__declspec(dllexport) int __stdcall foreign_function(void) { return 0; }
