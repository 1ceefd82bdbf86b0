// vantrop-render site: the show, edited or not, as a static web site.
#pragma once

// Runs the command; returns the exit status.
int runSite(int argc, char** argv);
