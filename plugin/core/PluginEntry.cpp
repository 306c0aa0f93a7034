#include <windows.h>

// Placeholder until the manager exists: the hook library treats null as "no plug-in".
extern "C" __declspec(dllexport) void* GetInstance() { return nullptr; }
