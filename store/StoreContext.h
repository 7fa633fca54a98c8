// What the package store's launch steps work with: the platform, the folder
// tree and the window's narrow side (status texts, pending messages).
#pragma once

#include "common/LaunchView.h"
#include "platform/Platform.h"
#include "store/FolderUtils.h"

namespace store {

struct StoreContext {
  plat::Services& s;
  FolderUtils& folders;
  launch::ILaunchView& view;
};

} // namespace store
