// An image's tools run confined: a tool that reaches for the host's files, writes outside the
// image's tmp/ or opens a TCP connection is refused, while the same tool run unconfined does it
// all (so the refusals are the sandbox's, not the tool's).
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/linux/Sandbox.hpp"
#include "platform/posix/Processes.hpp"
#include "tests/support/ImageBuilder.hpp"
#include "tests/support/TempDir.hpp"

namespace strandel::platform {
namespace {

namespace fs = std::filesystem;

// $1: a file outside the image to create; $2: a port on 127.0.0.1 that accepts connections.
constexpr const char* kIntruder =
    "#!/bin/sh\n"
    "here=\"${0%/*}\"\n"
    "/bin/cat /etc/passwd > /dev/null 2>&1 && echo read-host\n"
    "echo x 2>/dev/null > \"$1\" && echo wrote-host\n"
    "/usr/bin/bash -c \"exec 3<>/dev/tcp/127.0.0.1/$2\" 2>/dev/null && echo connected\n"
    "/bin/cat \"$here/intruder.d/own\"\n"
    "echo x > \"$here/../../tmp/mine\" && echo wrote-tmp\n";

struct Listener {
  UniqueFd fd;
  int port = 0;
};

Listener listenOnLoopback() {
  Listener listener{UniqueFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0))};
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (!listener.fd || ::bind(listener.fd.get(), reinterpret_cast<sockaddr*>(&address), size) != 0 ||
      ::listen(listener.fd.get(), 4) != 0 ||
      ::getsockname(listener.fd.get(), reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    return {};
  }
  listener.port = ntohs(address.sin_port);
  return listener;
}

TEST(ImageSandbox, AToolReadsAndWritesOnlyItsImageAndConnectsNowhere) {
  int abi = live::landlockAbi();
  if (abi < 1) GTEST_SKIP() << "this kernel has no Landlock";
  Listener listener = listenOnLoopback();
  ASSERT_TRUE(listener.fd);
  testing::ImageBuilder image;
  image.tool("/usr/bin/intruder", kIntruder);
  image.file("/usr/bin/intruder.d/own", "own-data\n");
  testing::ScopedMachine machine(image);
  testing::TempDir outside;
  const std::string tool = "/usr/bin/intruder", port = std::to_string(listener.port);

  auto confined = current()->processes().runTool({.tool = tool, .arguments = {(outside.path() / "a").string(), port}});
  EXPECT_EQ(confined ? confined->bytes : "(not run)", "own-data\nwrote-tmp\n");
  EXPECT_FALSE(fs::exists(outside.path() / "a"));
  EXPECT_LT(::accept(listener.fd.get(), nullptr, nullptr), 0);

  auto unconfined = live::makeHostProcesses()->runTool({.tool = (machine.dir() / "root" / "usr/bin/intruder").string(),
                                                        .arguments = {(outside.path() / "b").string(), port}});
  EXPECT_EQ(unconfined ? unconfined->bytes : "(not run)", "read-host\nwrote-host\nconnected\nown-data\nwrote-tmp\n");
}

}  // namespace
}  // namespace strandel::platform
