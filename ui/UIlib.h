#pragma once
// The DirectUI toolkit: include this from window classes and pages.
#include "ui/ui_builder.h"
#include "ui/ui_combo.h"
#include "ui/ui_containers.h"
#include "ui/ui_control.h"
#include "ui/ui_controls.h"
#include "ui/ui_dialogs.h"
#include "ui/ui_driving.h"
#include "ui/ui_manager.h"
#include "ui/ui_menu.h"
#include "ui/ui_types.h"
#include "ui/ui_window.h"
