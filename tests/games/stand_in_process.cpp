// Waits up to a minute, then exits: the test that started it ends it sooner.
#include <windows.h>

int main() {
    Sleep(60000);
    return 0;
}
