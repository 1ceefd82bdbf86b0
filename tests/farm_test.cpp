// An export cut into parts and joined: on this machine's cores under GNU
// parallel, and over ssh to an sshd of the test's own, the joined video
// decodes to the frames and sound of one whole export.
#include "process.h"
#include "spawn.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

static const std::string RENDER = VANTROP_RENDER_PATH;
static const std::string FARM = std::string(VANTROP_SCRIPTS_DIR) + "/render-farm.sh";
// Two seconds across a hit at 160x90 and 30 fps: 60 frames.
static const std::string EXPORT = " --size 160x90 --fps 30 --from 40000 --to 42000";

// Every frame of every stream of a video, decoded, as ffmpeg's checksums.
static std::string decodedChecksums(const std::string& video)
{
    const CommandResult r = runCommand("ffmpeg -v error -i " + video + " -f framemd5 - | grep -v '^#'");
    EXPECT_EQ(0, r.status) << "ffmpeg (Debian package ffmpeg) is needed: " << r.output;
    return r.output;
}

// A folder with the music and a whole export of EXPORT.
static std::string folderWithAWholeExport()
{
    const std::string dir = makeTempDir();
    EXPECT_EQ(0, runCommand(std::string(VANTROP_MAKE_TRACK_PATH) + " --seconds 3 " + dir + "/m.mp3").status);
    const CommandResult whole =
        runCommand("cd " + dir + " && " + RENDER + " video" + EXPORT + " --music m.mp3 --out whole.mp4");
    EXPECT_EQ(0, whole.status) << whole.output;
    return dir;
}

TEST(Farm, PartsUnderGnuParallelJoinToTheVideoOfOneExport)
{
    const std::string dir = folderWithAWholeExport();
    const CommandResult farm = runCommand("cd " + dir + " && " + FARM + " --parts 3 --render " + RENDER +
                                          " --out joined.mp4 --music m.mp3" + EXPORT);
    ASSERT_EQ(0, farm.status) << "GNU parallel (Debian package parallel) is needed: " << farm.output;
    const std::string whole = decodedChecksums(dir + "/whole.mp4");
    EXPECT_NE(std::string::npos, whole.find("\n1,")) << "a sound stream: " << whole;
    EXPECT_EQ(whole, decodedChecksums(dir + "/joined.mp4"));

    // A part missing, or one of another export: named, and nothing written.
    const std::string part = "cd " + dir + " && " + RENDER + " video" + EXPORT + " --part ";
    ASSERT_EQ(0,
              runCommand(part + "1/3 --out p1.mkv && " + part + "3/3 --out p3.mkv && " + RENDER +
                         " video --size 160x90 --fps 25 --to 2000 --part 2/3 --out other.mkv")
                  .status);
    const CommandResult missing = runCommand("cd " + dir + " && " + RENDER + " join p3.mkv p1.mkv --out a.mp4");
    EXPECT_EQ(1, missing.status);
    EXPECT_NE(std::string::npos, missing.output.find("part 2/3 missing")) << missing.output;
    const CommandResult foreign =
        runCommand("cd " + dir + " && " + RENDER + " join p1.mkv other.mkv p3.mkv --out a.mp4");
    EXPECT_NE(std::string::npos,
              foreign.output.find("other.mkv is part of another export than p1.mkv: its frame rate is 25"))
        << foreign.output;
    // Stopped once frames are drawn, a part leaves nothing.
    const std::string frames = dir + "/frames.log";
    const CommandResult stopped = runCommand(
        "cd " + dir + " && (VANTROP_PROGRAM_LOG=" + frames + " " + RENDER +
        " video --size 160x90 --to 60000 --part 1/2 --out stopped.mkv & pid=$!; i=0; until [ -s " + frames +
        " ] || [ $i -ge 3000 ]; do sleep 0.01; i=$((i + 1)); done; kill -INT $pid; wait $pid; echo status=$?)");
    EXPECT_NE(std::string::npos, stopped.output.find("status=130")) << stopped.output;
    EXPECT_EQ("frames.log\njoined.mp4\nm.mp3\nother.mkv\np1.mkv\np3.mkv\nwhole.mp4\n",
              runCommand("cd " + dir + " && LC_ALL=C ls -A").output);
}

// A free TCP port on 127.0.0.1, as the system hands one out.
static int freePort()
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    const bool ok = bind(s, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &size) == 0;
    close(s);
    return ok ? ntohs(address.sin_port) : 0;
}

TEST(Farm, PartsOverSshJoinToTheSameVideo)
{
    const std::string dir = folderWithAWholeExport();
    const int port = freePort();
    ASSERT_GT(port, 0);
    ASSERT_EQ(0,
              runCommand("cd " + dir + " && ssh-keygen -q -t ed25519 -N '' -f host && ssh-keygen -q -t ed25519 " +
                         "-N '' -f user && cp user.pub keys")
                  .status)
        << "ssh-keygen (Debian package openssh-client) is needed";
    std::ofstream(dir + "/sshd_config") << "Port " << port << "\nListenAddress 127.0.0.1\nHostKey " << dir
                                        << "/host\nAuthorizedKeysFile " << dir << "/keys\n"
                                        << "PasswordAuthentication no\nKbdInteractiveAuthentication no\nUsePAM no\n"
                                        << "StrictModes no\nPidFile none\n";
    // sshd started by root wants the folder it separates its privileges in.
    if (geteuid() == 0) mkdir("/run/sshd", 0755);
    ProcessGuard sshd{
        spawnProcess({"/usr/sbin/sshd", "-D", "-e", "-f", dir + "/sshd_config"}, dir, {}, dir + "/sshd.log")};
    const std::string ssh = "ssh -p " + std::to_string(port) + " -i " + dir +
        "/user -o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null -o BatchMode=yes -o LogLevel=ERROR";
    const CommandResult up = runCommand("i=0; until " + ssh + " 127.0.0.1 true || [ $i -ge 100 ]; do sleep 0.1; " +
                                        "i=$((i + 1)); done; " + ssh + " 127.0.0.1 true");
    ASSERT_EQ(0, up.status) << "sshd (Debian package openssh-server) did not answer: " << up.output
                            << runCommand("cat " + dir + "/sshd.log").output;
    std::ofstream(dir + "/machines") << "3/" << ssh << " 127.0.0.1\n";
    const CommandResult farm = runCommand("cd " + dir + " && " + FARM + " --parts 3 --sshloginfile machines --render " +
                                          RENDER + " --out joined.mp4 --music m.mp3" + EXPORT);
    ASSERT_EQ(0, farm.status) << farm.output;
    EXPECT_EQ(decodedChecksums(dir + "/whole.mp4"), decodedChecksums(dir + "/joined.mp4"));
}
