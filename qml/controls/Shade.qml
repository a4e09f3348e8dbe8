import QtQuick 2.15
import ".."

// The shade behind a modal pop-up. Qt sizes it as the window, which on a turned panel is the
// overlay's own size turned (800 x 480 over a 480 x 800 overlay): its face is square on the
// longer side, so that it covers the overlay at every angle; what falls past the window is not
// drawn.
Item {
    Rectangle {
        width: Math.max(parent.width, parent.height)
        height: width
        color: Theme.popupShade
    }
}
