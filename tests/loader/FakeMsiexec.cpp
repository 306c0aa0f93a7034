// Test equipment standing in for the system's msiexec: found first on the
// path by the loader's command interpreter. Appends its arguments to
// "msiexec.log" beside itself and, when a file "remove" lies there too,
// removes MSN Messenger's registration as a completed uninstall would.
#include <windows.h>
#include <shlwapi.h>

#include <stdio.h>
#include <string.h>
#include <string>

int main() {
    char path[MAX_PATH + 1] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    char* slash = strrchr(path, '\\');
    if (slash) slash[1] = '\0';
    const std::string folder = path;

    const char* commandLine = GetCommandLineA();
    // Skip the program name, quoted or not.
    const char* arguments = commandLine;
    if (*arguments == '"') {
        arguments = strchr(arguments + 1, '"');
        arguments = arguments ? arguments + 1 : commandLine + strlen(commandLine);
    } else {
        while (*arguments && *arguments != ' ') ++arguments;
    }
    while (*arguments == ' ') ++arguments;

    FILE* log = fopen((folder + "msiexec.log").c_str(), "a");
    if (log) {
        fprintf(log, "%s\n", arguments);
        fclose(log);
    }
    if (GetFileAttributesA((folder + "remove").c_str()) != INVALID_FILE_ATTRIBUTES)
        SHDeleteKeyA(HKEY_CLASSES_ROOT, "CLSID\\{F81CD990-910B-4bbf-9CB3-6A77F3D697B3}");
    return 0;
}
