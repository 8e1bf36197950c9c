#include "driver/karvel.hpp"

int main(int argc, char** argv) { return Karvel::Main(argc, argv); }
