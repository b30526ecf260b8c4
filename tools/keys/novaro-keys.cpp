// Prints the README's "Using the player" section: the keys of every mode from the help panels.
#include "interaction/KeyboardHelp.h"

#include <iostream>

int main()
{
    std::cout << Novaro::keyboardHelpMarkdown();
    return 0;
}
