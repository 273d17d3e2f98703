#include "BrowseEdit.h"

// Stand-in until the folder button lands: a plain edit field.
TCustomBrowseEdit::TCustomBrowseEdit(QWidget* parent) : QLineEdit(parent) {}
