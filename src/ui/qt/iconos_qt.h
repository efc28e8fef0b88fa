#pragma once
// Pictures the program draws itself: the window icon and the command bar's icons.
#include <QIcon>
#include <functional>
#include <string>

namespace etapas::ui {

// The picture resource "ICONCORVELA": three stages moving forward on a blue tile.
QIcon IconoCorvela();
// The command bar's icon for a command key.
QIcon IconoComando(const std::string& clave);

}  // namespace etapas::ui
