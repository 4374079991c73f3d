import QtQuick

// Scrolls a page so that the control the keyboard has just reached is in view.
Item {
    id: follower

    required property Flickable page
    required property Item content

    function reveal(item: Item) {
        let inside = item
        while (inside && inside !== follower.content)
            inside = inside.parent
        if (!inside || !follower.page.visible)
            return
        const box = item.mapToItem(follower.page.contentItem, 0, 0, item.width, item.height)
        const top = box.y - 12
        const bottom = box.y + box.height + 12
        if (top < follower.page.contentY)
            follower.page.contentY = Math.max(0, top)
        else if (bottom > follower.page.contentY + follower.page.height)
            follower.page.contentY = Math.min(follower.page.contentHeight - follower.page.height,
                                              bottom - follower.page.height)
    }

    Connections {
        target: follower.Window.window
        function onActiveFocusItemChanged() {
            // Only the keyboard's moves: a click never scrolls the page under the pointer.
            // Controls carry a focus reason; other items have none, hence the look-up by name.
            const item = follower.Window.activeFocusItem
            const property = "focusReason"
            const reason = item ? item[property] : undefined
            if (reason === Qt.TabFocusReason || reason === Qt.BacktabFocusReason)
                follower.reveal(item)
        }
    }
}
