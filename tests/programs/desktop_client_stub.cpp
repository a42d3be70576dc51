// Stands in for the desktop client's executable when a test launches it: it
// leaves a marker file in its working folder and ends at once.
#include <fstream>

int main(int argc, char** argv) {
    (void)argv;
    std::ofstream marker("desktop-client-started.txt");
    marker << "arguments " << (argc - 1) << "\n";
    return marker ? 0 : 1;
}
