// A descriptor handed over a socket (SCM_RIGHTS): the processes between the runner and an image's
// tool share the runner's memory but not its descriptors (nor, under valgrind, which runs them as
// forks, even its memory). Sending runs between clone and exec: system calls only.
#include "platform/linux/PassDescriptor.hpp"

#include <sys/socket.h>

#include <cstring>

namespace strandel::platform::live {
namespace {

// One byte of data with room for one descriptor beside it.
struct OneDescriptor {
  char data = 0;
  iovec piece{&data, 1};
  alignas(cmsghdr) char room[CMSG_SPACE(sizeof(int))] = {};
  msghdr message{};
  OneDescriptor() {
    message.msg_iov = &piece;
    message.msg_iovlen = 1;
    message.msg_control = room;
    message.msg_controllen = sizeof room;
  }
  OneDescriptor(const OneDescriptor&) = delete;
  OneDescriptor& operator=(const OneDescriptor&) = delete;
};

}  // namespace

bool sendDescriptor(int socket, int fd) {
  OneDescriptor one;
  msghdr& message = one.message;
  cmsghdr* header = CMSG_FIRSTHDR(&message);
  header->cmsg_level = SOL_SOCKET;
  header->cmsg_type = SCM_RIGHTS;
  header->cmsg_len = CMSG_LEN(sizeof(int));
  std::memcpy(CMSG_DATA(header), &fd, sizeof fd);
  return ::sendmsg(socket, &message, MSG_NOSIGNAL) == 1;
}

base::UniqueFd receiveDescriptor(int socket) {
  OneDescriptor one;
  msghdr& message = one.message;
  if (::recvmsg(socket, &message, MSG_DONTWAIT | MSG_CMSG_CLOEXEC) != 1) return {};
  cmsghdr* header = CMSG_FIRSTHDR(&message);
  if (!header || header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS ||
      header->cmsg_len != CMSG_LEN(sizeof(int)))
    return {};
  int fd;
  std::memcpy(&fd, CMSG_DATA(header), sizeof fd);
  return base::UniqueFd(fd);
}

}  // namespace strandel::platform::live
