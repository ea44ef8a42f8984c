// The operator program's entry.
#include "app.h"

int main(int argc, char **argv) {
    return app::Main(argc, argv);
}
