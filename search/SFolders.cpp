#include "SFolders.h"

TSearchFolders::TSearchFolders() = default;
TSearchFolders::~TSearchFolders() = default;

// Stand-in until the directory walk lands: lists nothing, reports the totals.
void TSearchFolders::Scan() {
  FoundFiles.clear();
  countFiles_ = 0;
  sizeOfFiles_ = 0;
  stopped_ = false;
  if (OnChanged) OnChanged(this, countFiles_, sizeOfFiles_);
}

void TSearchFolders::Stop() { stopped_ = true; }
