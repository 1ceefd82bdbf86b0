// A stand-in for ffmpeg.exe in the Windows build's tests (no ffmpeg is built
// for Windows here): it records each command line in ffmpeg-standin.log in
// its working folder and writes to its output (the last argument) the raw
// bytes of its first input: the frames on its standard input in the first
// pass, the first pass's file in the second. So a test reads back exactly
// the pixels vantrop-render.exe sent.
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>

// ffmpeg's "file:" protocol prefix, as vantrop-render writes its paths.
static std::string withoutProtocol(const std::string& path)
{
    return path.rfind("file:", 0) == 0 ? path.substr(5) : path;
}

int main(int argc, char** argv)
{
    std::FILE* log = std::fopen("ffmpeg-standin.log", "a");
    if (!log) return 2;
    for (int i = 1; i < argc; ++i) std::fprintf(log, "%s%s", i > 1 ? " " : "", argv[i]);
    std::fputc('\n', log);
    std::fclose(log);
    std::string input;
    for (int i = 1; i + 1 < argc && input.empty(); ++i)
        if (std::string(argv[i]) == "-i") input = argv[i + 1];
    if (input.empty() || argc < 2) return 3;
    std::FILE* out = std::fopen(withoutProtocol(argv[argc - 1]).c_str(), "wb");
    std::FILE* in = stdin;
    if (input == "pipe:0")
        _setmode(_fileno(stdin), _O_BINARY);
    else
        in = std::fopen(withoutProtocol(input).c_str(), "rb");
    if (!out || !in) return 4;
    char buffer[65536];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, in)) > 0;)
        if (std::fwrite(buffer, 1, got, out) != got) return 5;
    return std::fclose(out) == 0 ? 0 : 5;
}
