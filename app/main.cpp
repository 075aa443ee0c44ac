#include "app/startup.h"

int main(int argc, char** argv) {
    return lumora::app::runProgram(argc, argv);
}
