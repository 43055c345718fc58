// Descriptors handed over a socket (SCM_RIGHTS): the processes between the runner and an image's
// tool share the runner's memory but not its descriptors (nor, under valgrind, which runs them as
// forks, even its memory). Both ends may run between clone and exec: system calls only.
#include "platform/linux/PassDescriptor.hpp"

#include <sys/socket.h>

#include <cstring>

namespace strandel::platform::live {
namespace {

// One byte of data with room for kMaxPassed descriptors beside it.
struct Message {
  char data = 0;
  iovec piece{&data, 1};
  alignas(cmsghdr) char room[CMSG_SPACE(kMaxPassed * sizeof(int))] = {};
  msghdr message{};
  explicit Message(std::size_t controlSize) {
    message.msg_iov = &piece;
    message.msg_iovlen = 1;
    message.msg_control = room;
    message.msg_controllen = controlSize;
  }
  Message(const Message&) = delete;
  Message& operator=(const Message&) = delete;
};

}  // namespace

bool sendDescriptors(int socket, const int* fds, std::size_t count) {
  if (count == 0 || count > kMaxPassed) return false;
  Message one(CMSG_SPACE(count * sizeof(int)));
  cmsghdr* header = CMSG_FIRSTHDR(&one.message);
  header->cmsg_level = SOL_SOCKET;
  header->cmsg_type = SCM_RIGHTS;
  header->cmsg_len = CMSG_LEN(count * sizeof(int));
  std::memcpy(CMSG_DATA(header), fds, count * sizeof(int));
  return ::sendmsg(socket, &one.message, MSG_NOSIGNAL | MSG_DONTWAIT) == 1;
}

std::size_t receiveDescriptors(int socket, int (&out)[kMaxPassed]) {
  Message one(sizeof Message::room);
  if (::recvmsg(socket, &one.message, MSG_DONTWAIT | MSG_CMSG_CLOEXEC) != 1) return 0;
  cmsghdr* header = CMSG_FIRSTHDR(&one.message);
  if (!header || header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS ||
      header->cmsg_len < CMSG_LEN(sizeof(int)))
    return 0;
  std::size_t count = (header->cmsg_len - CMSG_LEN(0)) / sizeof(int);
  if (count > kMaxPassed) count = kMaxPassed;  // the kernel fits no more into the room given
  std::memcpy(out, CMSG_DATA(header), count * sizeof(int));
  return count;
}

}  // namespace strandel::platform::live
