// Our own writer of XML and binary property lists, and what both forms share.
//
// Writing is linear in the value: containers are walked with an explicit stack, never by
// recursion, and a binary list names each text once and each shared container once, however
// often the value repeats them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <strandel/PlistValue.hpp>

namespace strandel::plist {

/// How a writer treats what its form can't hold exactly. Lenient writes something close
/// (U+FFFD for a character the form has no place for, the nearest date it can write) and never
/// fails; Exact gives nothing instead, so that a caller keeping someone else's data can choose
/// another form or leave the data alone.
enum class WriteMode { Lenient, Exact };

/// The value as an XML property list: valid XML 1.0 in UTF-8, which XML parsers and other
/// property-list readers take. XML holds no text outside XML's characters (U+0001 and the
/// like, bytes that are not UTF-8, U+0000), no fraction of a second and no year outside 1 to
/// 9999: Exact gives nothing for a value holding one.
std::optional<std::string> writeXml(const PlistValue& value, WriteMode mode);

/// The value as a binary property list ("bplist00"). Exact keeps text that is not UTF-8 byte for
/// byte in the one-byte string form, as lists holding such text write it, and gives nothing for
/// a text holding U+0000 (which no reader takes); Lenient writes U+FFFD for each of those bytes.
std::optional<std::string> writeBinary(const PlistValue& value, WriteMode mode);

/// The key under which a dictionary of one entry stands for a UID (a keyed archive's object
/// number). The XML form has no UID kind and writes one as such a dictionary; the binary form
/// writes such a dictionary as a UID, and reads a UID as one.
inline constexpr char kUidKey[] = "CF$UID";

/// The UID a value stands for: a dictionary whose one entry is kUidKey holding an integer from
/// 0 to 2^32 - 1. Nothing for any other value.
std::optional<std::uint32_t> uidOf(const PlistValue& value) noexcept;

/// Seconds since 2001 as a calendar date and back, in the proleptic Gregorian calendar (UTC).
struct CivilTime {
  long long year = 2001;
  int month = 1, day = 1, hour = 0, minute = 0, second = 0;
};
CivilTime civilTimeOf(long long secondsSince2001) noexcept;
long long secondsOf(const CivilTime& time) noexcept;

}  // namespace strandel::plist
