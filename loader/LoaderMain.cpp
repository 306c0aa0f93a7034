#include "loader/Loader.h"
#include "shared/SwallowedFailure.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    try {
        parleym::Loader loader(instance);
        if (!loader.Start()) return 0;
        MSG message;
        BOOL result;
        while ((result = GetMessageA(&message, nullptr, 0, 0)) != 0) {
            if (result == -1) return 0;
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        return static_cast<int>(message.wParam);
    } catch (...) {
        parleym::ReportSwallowed("loader WinMain");
        return 0;
    }
}
