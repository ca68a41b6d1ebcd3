#pragma once
// A file-backed U-Boot environment, standing in for a board's env partition
// (demo, tools, tests).
//
// createEnvStore(root) writes $root/etc/fw_env.config, which FlashEnv and
// `fw_printenv -c $root/etc/fw_env.config` read, one line per copy:
//     <env file> <offset> <size>
//     /abs/root/var/uboot.env        0x0 0x4000
//     /abs/root/var/uboot-redund.env 0x0 0x4000    (second copy: redundant store)
// libubootenv reads the size as hexadecimal even without "0x" ("16384" means
// 0x16384), so it is written with it. Paths are absolute, except under a root
// whose path holds whitespace, at which libubootenv splits its lines: there
// they are relative ("var/uboot.env"), which FlashEnv takes under
// $ZE_PLATFORM_ROOT and fw_printenv under its working directory (run it from
// the root).
//
// Each copy is `size` bytes:
//     CRC-32 (zlib's, little-endian) of the data area     4 bytes
//     flag byte                                           1 byte, redundant store only
//     data area: "name=value" strings, each NUL-terminated, the list closed
//     by one more NUL; zero padding up to the end
// The new store holds an empty, valid environment in every copy, so
// fw_printenv reads it at once and FlashEnv accepts it (FlashEnv refuses a
// store without a valid copy, such as a zero- or 0xFF-filled file).
// Redundant copies: libubootenv reads the copy whose CRC is valid; of two
// valid copies, the one with the higher flag (0x00 follows 0xFF; on equal flags
// the first). It writes the other copy, with that flag plus one. The new store's
// flags are 1 (first copy) and 0 (second copy): the first write goes to the
// second copy. A damaged copy thus costs at most the most recent write.

#include <cstddef>
#include <string>

#include <ze/platform/export.h>

namespace ze {
namespace platform {

// Creates $root/etc/fw_env.config and the env file(s) $root/var/uboot.env and,
// when redundant, $root/var/uboot-redund.env (directories as needed),
// replacing any that exist. `size` is the size of each copy (at least 16).
// Returns 0, or a negative errno value with an error message naming the file.
ZE_PLATFORM_EXPORT int createEnvStore(const std::string& root, std::size_t size = 0x4000,
                                      bool redundant = true);

}  // namespace platform
}  // namespace ze
