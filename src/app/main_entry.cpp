#include "app/main.h"

int main(int argc, char** argv)
{
    return RunSonalyx(argc, argv);
}
