// Quillora: the windowed translation client. Takes no arguments.
#include "app/shell/start_up.h"

int main() { return quillora::RunQuillora(); }
