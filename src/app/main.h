#pragma once
// Starts the program: masks floating-point exceptions, creates the forms and
// runs the event loop. Returns the process exit code.
int RunSonalyx(int argc, char** argv);
