#pragma once

#include <string>
#include <vector>

#include "database/disk_state.h"
#include "database/entry_info.h"
#include "database/entry_profile.h"

namespace ztctl {

// The account records in the service's replies, read strictly: a reply that is not exactly
// the record it should be is refused (false), never shown as a half-empty account. The
// frames' own decoders read missing items as empty, which is right for the database and
// wrong for what the client prints.

// An EntryInfo frame: the five basic items of their sizes, and the five of the disk part
// exactly when the flag is set; a known account type and disk status.
bool decode_info(const std::vector<unsigned char>& frame, EntryInfo& out);

// A frame of EntryInfo frames ("GetAdminList", and each half of "GetList").
bool decode_info_list(const std::vector<unsigned char>& frame, std::vector<EntryInfo>& out);

// The answer of "GetList": its two lists, users and administrators.
bool decode_account_lists(const std::vector<unsigned char>& frame, std::vector<EntryInfo>& users,
                          std::vector<EntryInfo>& admins);

// An entry_profile frame: name, id (8 bytes), a known account type (4).
bool decode_profile(const std::vector<unsigned char>& frame, entry_profile& out);

// The names JSON output uses: "admin" or "user"; "none", "created", "mounted", "unmounted".
std::string role_name(entry_type type);
std::string disk_state_name(DiskStateInfo state);

}  // namespace ztctl
