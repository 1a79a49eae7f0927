// Program entry: the platform's start-up, then the main sequence.
#include "platform/runtime.h"
#include "sweep/sweep.h"

int main(int argc, char** argv) {
  platform::start(argc, argv);
  sweep::MAIN_SEQUENCE();
}
