// The access lists of the machine-wide cache, as SDDL, in one table. No
// Windows header: the native tests check the table's entries too.
//
// Rights by number, so that the strings read the same as the system writes
// them back: 0x1200a9 read and execute (read data, attributes and extended
// attributes, list, traverse, read control, synchronize), 0x6 add a file and
// add a folder (this folder only), 0x1301bf modify (read and execute, write,
// delete), SD delete. OW (owner rights) replaces the owner's implicit right to
// change the list, so whoever made a folder or file cannot grant themselves
// more later; where it is not inherited, the maker of a new file below may
// still change that file's list (which is how it seals what it made).
#pragma once

#include "platform/Platform.h"

namespace plat::win32 {

struct AccessListSddl {
  AccessList list;
  const char* sddl;
};

inline constexpr AccessListSddl kAccessLists[] = {
    // Only the system and administrators create or change anything at the
    // root; everyone reads and runs what lies below.
    {AccessList::ApplicationRoot,
     "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)(A;;0x1200a9;;;OW)"},
    // Users add files and folders here; each maker modifies what it made
    // (CREATOR OWNER, inherited only), nobody else's.
    {AccessList::ProvisioningFolder,
     "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)(A;;0x6;;;BU)"
     "(A;OICIIO;0x1301bf;;;CO)(A;;0x1200a9;;;OW)"},
    // Empty until an image takes its place: nothing can be put in it, and
    // any user's launcher may move it aside.
    {AccessList::ImagePlaceholder,
     "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)(A;;SD;;;BU)(A;;0x1200a9;;;OW)"},
    // An installed image or a whole archive: read and run for every user,
    // its maker included; changed only by the system and administrators.
    {AccessList::ReadOnly,
     "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)(A;OICI;0x1200a9;;;OW)"},
};

inline const char* SddlOf(AccessList list) {
  for (const AccessListSddl& entry : kAccessLists)
    if (entry.list == list)
      return entry.sddl;
  return nullptr;
}

} // namespace plat::win32
