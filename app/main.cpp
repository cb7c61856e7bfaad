// vopal: the window of the LAN inventory.

#include "app/CTarnelApp.h"

int main(int argc, char** argv) {
    CTarnelApp app(argc, argv);
    if (!app.InitInstance())
        return app.ExitInstance(0);
    return app.ExitInstance(app.Run());
}
