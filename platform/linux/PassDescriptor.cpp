// A descriptor handed over a socket (SCM_RIGHTS): the processes between the runner and an image's
// tool share the runner's memory but not its descriptors (nor, under valgrind, which runs them as
// forks, even its memory). Sending runs between clone and exec: system calls only.
#include "platform/linux/PassDescriptor.hpp"

#include <sys/socket.h>

#include <cstring>

namespace strandel::platform::live {

bool sendDescriptor(int socket, int fd) {
  char data = 0;
  iovec piece{&data, 1};
  alignas(cmsghdr) char room[CMSG_SPACE(sizeof(int))] = {};
  msghdr message{};
  message.msg_iov = &piece;
  message.msg_iovlen = 1;
  message.msg_control = room;
  message.msg_controllen = sizeof room;
  cmsghdr* header = CMSG_FIRSTHDR(&message);
  header->cmsg_level = SOL_SOCKET;
  header->cmsg_type = SCM_RIGHTS;
  header->cmsg_len = CMSG_LEN(sizeof(int));
  std::memcpy(CMSG_DATA(header), &fd, sizeof fd);
  return ::sendmsg(socket, &message, MSG_NOSIGNAL) == 1;
}

base::UniqueFd receiveDescriptor(int socket) {
  char data;
  iovec piece{&data, 1};
  alignas(cmsghdr) char room[CMSG_SPACE(sizeof(int))] = {};
  msghdr message{};
  message.msg_iov = &piece;
  message.msg_iovlen = 1;
  message.msg_control = room;
  message.msg_controllen = sizeof room;
  if (::recvmsg(socket, &message, MSG_DONTWAIT | MSG_CMSG_CLOEXEC) != 1) return {};
  cmsghdr* header = CMSG_FIRSTHDR(&message);
  if (!header || header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS ||
      header->cmsg_len != CMSG_LEN(sizeof(int)))
    return {};
  int fd;
  std::memcpy(&fd, CMSG_DATA(header), sizeof fd);
  return base::UniqueFd(fd);
}

// In the run's fresh mount namespace: the run's own layer over the folder it may write. A kernel
// that makes none leaves the run to write the folder itself (said once by the parent); a folder
// that is no longer where the sandbox found it ends the start.

}  // namespace strandel::platform::live
