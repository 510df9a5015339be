// Readers plugged in and pulled out the way a USB reader is, through pcscd's own udev hot-plug
// path: a tmpfs /sys that holds one faked USB device per plugged reader, our driver as a bundle
// over /usr/lib/pcsc/drivers, and libudev's "add" / "remove" messages on the udev netlink group.
// All of it inside this process's own mount and network namespaces: the messages reach no udev
// listener of the machine.
#include <arpa/inet.h>
#include <PCSC/winscard.h>
#include <linux/netlink.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "Harness.h"

namespace {

namespace fs = std::filesystem;

const std::string kDrivers = "/usr/lib/pcsc/drivers";
const std::string kVpcd = kDrivers + "/serial/libifdvpcd.so";

std::string Failed(const std::string& what) { return what + ": " + std::strerror(errno); }

// The hash libudev's socket filter compares (MurmurHash2, seed 0).
uint32_t Hash(const std::string& text) {
  const uint32_t m = 0x5bd1e995;
  uint32_t h = static_cast<uint32_t>(text.size());
  size_t i = 0;
  for (; i + 4 <= text.size(); i += 4) {
    uint32_t k;
    std::memcpy(&k, text.data() + i, 4);
    k *= m;
    k ^= k >> 24;
    k *= m;
    h = h * m ^ k;
  }
  const auto* tail = reinterpret_cast<const uint8_t*>(text.data() + i);
  switch (text.size() - i) {
    case 3: h ^= static_cast<uint32_t>(tail[2]) << 16; [[fallthrough]];
    case 2: h ^= static_cast<uint32_t>(tail[1]) << 8; [[fallthrough]];
    case 1: h ^= tail[0]; h *= m;
  }
  h ^= h >> 13;
  h *= m;
  return h ^ (h >> 15);
}

// One libudev monitor message for the reader's USB interface.
std::string SendUevent(const std::string& action, const std::string& devpath) {
  static int seqnum = 1000;
  std::string properties;
  for (const std::string& p : {"ACTION=" + action, "DEVPATH=" + devpath, std::string("SUBSYSTEM=usb"),
                               std::string("DEVTYPE=usb_interface"), std::string("INTERFACE=11/0/0"),
                               "SEQNUM=" + std::to_string(++seqnum), std::string("USEC_INITIALIZED=1")})
    properties += p + '\0';
  struct {
    char prefix[8] = "libudev";
    uint32_t magic = htonl(0xfeedcafe);
    uint32_t headerSize, propertiesOffset, propertiesLength;
    uint32_t subsystemHash = htonl(Hash("usb")), devtypeHash = htonl(Hash("usb_interface"));
    uint32_t bloomHigh = 0, bloomLow = 0;
  } header;
  header.headerSize = header.propertiesOffset = sizeof header;
  header.propertiesLength = static_cast<uint32_t>(properties.size());
  std::string message(reinterpret_cast<const char*>(&header), sizeof header);
  message += properties;
  const int s = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT);
  if (s < 0) return Failed("netlink socket");
  sockaddr_nl to{};
  to.nl_family = AF_NETLINK;
  to.nl_groups = 2;  // libudev's own group, where pcscd listens
  const ssize_t sent = sendto(s, message.data(), message.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  close(s);
  return sent == static_cast<ssize_t>(message.size()) ? "" : Failed("sending the uevent");
}

void Write(const fs::path& file, const std::string& text) { std::ofstream(file) << text; }

}  // namespace

std::string EnterPrivateHotplug() {
  if (unshare(CLONE_NEWNET) != 0) return Failed("unshare(CLONE_NEWNET)");
  // Loopback up: the drivers and the virtual readers meet on 127.0.0.1.
  const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ifreq lo{};
  std::strcpy(lo.ifr_name, "lo");
  const bool up = ioctl(s, SIOCGIFFLAGS, &lo) == 0 && (lo.ifr_flags |= IFF_UP, ioctl(s, SIOCSIFFLAGS, &lo) == 0);
  close(s);
  if (!up) return Failed("bringing lo up");
  // Our driver as a bundle beside vpcd, which the vpcd cases still load from its usual path.
  const std::string drivers = TempDir() + "/drivers";
  fs::create_directories(drivers + "/serial");
  fs::create_directories(drivers + "/varnelo.bundle/Contents/Linux");
  std::error_code error;
  fs::copy_file(kVpcd, drivers + "/serial/libifdvpcd.so", error);
  fs::copy_file(DriverPath(), drivers + "/varnelo.bundle/Contents/Linux/libifdvarnelo.so", error);
  Write(drivers + "/varnelo.bundle/Contents/Info.plist",
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
        "  <key>CFBundleExecutable</key>\n  <string>libifdvarnelo.so</string>\n"
        "  <key>ifdVendorID</key>\n  <string>" + std::string(kUsbVendor) + "</string>\n"
        "  <key>ifdProductID</key>\n  <string>" + std::string(kUsbProduct) + "</string>\n"
        "  <key>ifdFriendlyName</key>\n  <string>" + kPluggedName + "</string>\n"
        "</dict>\n</plist>\n");
  if (mount(drivers.c_str(), kDrivers.c_str(), nullptr, MS_BIND, nullptr) != 0) return Failed("bind mount of the drivers");
  if (mount("tmpfs", "/sys", "tmpfs", 0, "size=1m,mode=0755") != 0) return Failed("tmpfs on /sys");
  fs::create_directories("/sys/bus/usb/devices");
  fs::create_directories("/sys/devices");
  return "";
}

UsbReader::UsbReader(int port) : port_(port) {}

UsbReader::~UsbReader() {
  if (plugged_) Unplug();
}

std::string UsbReader::Device() const { return "/devices/varnelo/usb" + std::to_string(port_) + "/1-1"; }

std::string UsbReader::Plug() {
  const fs::path device = "/sys" + Device(), interface = device / "1-1:1.0";
  fs::create_directories(interface);
  // The port is the device node's last number: the driver listens there.
  Write(device / "uevent", "DEVTYPE=usb_device\nDEVNAME=varnelo/" + std::to_string(port_) + "\n");
  Write(device / "idVendor", std::string(kUsbVendor).substr(2) + "\n");
  Write(device / "idProduct", std::string(kUsbProduct).substr(2) + "\n");
  Write(interface / "uevent", "DEVTYPE=usb_interface\nINTERFACE=11/0/0\n");
  Write(interface / "bInterfaceNumber", "00\n");
  std::error_code error;
  fs::create_directory_symlink("/sys/bus/usb", device / "subsystem", error);
  fs::create_directory_symlink("/sys/bus/usb", interface / "subsystem", error);
  plugged_ = true;
  return SendUevent("add", Device() + "/1-1:1.0");
}

std::string UsbReader::Unplug() {
  // pcscd looks up the device in /sys while it handles "remove": the files go afterwards.
  const std::string sent = SendUevent("remove", Device() + "/1-1:1.0");
  plugged_ = false;
  if (sent.empty()) WaitListed(kPluggedName, false, Millis(5000));
  std::error_code error;
  fs::remove_all("/sys/devices/varnelo/usb" + std::to_string(port_), error);
  return sent;
}

bool WaitListed(const std::string& part, bool listed, Millis timeout) {
  const Clock::time_point end = Clock::now() + timeout;
  for (;;) {
    SCARDCONTEXT context;
    bool found = false;
    if (SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context) == SCARD_S_SUCCESS) {
      char names[4096];
      DWORD size = sizeof names;
      if (SCardListReaders(context, nullptr, names, &size) == SCARD_S_SUCCESS)
        for (const char* n = names; *n != 0; n += std::strlen(n) + 1) found |= std::strstr(n, part.c_str()) != nullptr;
      SCardReleaseContext(context);
    }
    if (found == listed) return true;
    if (Clock::now() >= end) return false;
    std::this_thread::sleep_for(Millis(5));
  }
}
