// vopal: the window of the LAN inventory.

#include "app/CTarnelApp.h"

int main(int argc, char** argv) {
    CTarnelApp app(argc, argv);
    if (const std::optional<int> code = app.InitInstance())
        return app.ExitInstance(*code);
    return app.ExitInstance(app.Run());
}
