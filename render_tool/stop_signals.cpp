#include "render_tool/stop_signals.h"

#include <cstring>

// Set by the signal handler, which can reach nothing else; read by the
// command's loops between frames and while waiting for ffmpeg.
static volatile std::sig_atomic_t stopped;

static void onStopSignal(int signal)
{
    stopped = signal;
}

void catchStopSignals()
{
#ifdef _WIN32
    for (int signal : {SIGINT, SIGBREAK}) std::signal(signal, onStopSignal);
#else
    std::signal(SIGPIPE, SIG_IGN);
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
#endif
}

const volatile std::sig_atomic_t* stopSignal()
{
    return &stopped;
}

std::string signalText(int signal, bool inputEnded)
{
    if (inputEnded) return "the end of its input";
#ifdef _WIN32
    return signal == SIGBREAK ? "Ctrl+Break" : "Ctrl+C";
#else
    return "signal " + std::to_string(signal) + " (" + strsignal(signal) + ")";
#endif
}
