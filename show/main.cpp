#include "show/show.h"

int main()
{
    return runShow();
}
