import QtQuick
import QtQuick3D
import Pelorin.Design
import Pelorin.Studio

// A finished model, lit and turned by the user. The window keeps one of these for its whole life
// and shows or hides it: creating and destroying 3D views crashes Qt 6.4's renderer. Each time it
// is shown for a file it loads that file again, with the spinner in between. Create it visible at
// start-up, with or without a source: its first frames prepare the materials' shaders.
Item {
    id: root

    property string source
    readonly property int status: loader.status
    readonly property alias preview: loader

    // The turntable: yaw about the vertical axis, pitch above the horizon, distance to the centre,
    // starting where the camera sits at (0.45, 0.3, 0.75) looking at the origin.
    property real yaw: Math.atan2(0.45, 0.75) * 180 / Math.PI
    property real pitch: Math.atan2(0.3, Math.hypot(0.45, 0.75)) * 180 / Math.PI
    property real distance: Math.hypot(0.45, 0.3, 0.75)
    readonly property real minDistance: 0.3
    readonly property real maxDistance: 3

    // One step of the keyboard's or the wheel's zoom: `steps` > 0 comes closer.
    function zoom(steps: real) {
        distance = Math.max(minDistance, Math.min(maxDistance, distance * Math.pow(0.88, steps)))
    }
    function turn(degrees: real) {
        spin.stop()
        yaw += degrees
    }
    function tilt(degrees: real) {
        pitch = Math.max(-85, Math.min(85, pitch + degrees))
    }
    function resetCamera() {
        spin.stop()
        yaw = Math.atan2(0.45, 0.75) * 180 / Math.PI
        pitch = Math.atan2(0.3, Math.hypot(0.45, 0.75)) * 180 / Math.PI
        distance = Math.hypot(0.45, 0.3, 0.75)
    }

    function load() {
        resetCamera()
        // Set here rather than bound: this handler can run before a binding on the same change.
        loader.source = root.source
        loader.reload()
    }

    onVisibleChanged: {
        if (visible)
            load()
        else
            loader.cancel()
    }
    onSourceChanged: if (visible) load()

    // The keyboard turns the model once the preview has the focus: the arrows orbit, + and -
    // zoom.
    activeFocusOnTab: loader.status === ModelPreview.Ready
    Accessible.role: Accessible.Graphic
    Accessible.name: "Model preview"
    Accessible.description: "Arrow keys turn the model; plus and minus zoom."
    Keys.onLeftPressed: turn(15)
    Keys.onRightPressed: turn(-15)
    Keys.onUpPressed: tilt(10)
    Keys.onDownPressed: tilt(-10)
    Keys.onPressed: event => {
        if (event.key === Qt.Key_Plus || event.key === Qt.Key_Equal) {
            zoom(1)
            event.accepted = true
        } else if (event.key === Qt.Key_Minus) {
            zoom(-1)
            event.accepted = true
        }
    }
    Component.onCompleted: if (visible) load()

    ModelPreview {
        id: loader
    }

    Rectangle {
        anchors.fill: parent
        color: Theme.background
    }

    View3D {
        id: view
        anchors.fill: parent
        camera: camera
        // Offscreen rendering redraws only when the scene changes, so an idle model costs nothing.
        renderMode: View3D.Offscreen

        environment: SceneEnvironment {
            backgroundMode: SceneEnvironment.Color
            clearColor: Theme.background
            antialiasingMode: SceneEnvironment.MSAA
            antialiasingQuality: SceneEnvironment.High
        }

        DirectionalLight {
            eulerRotation: Qt.vector3d(-0.8 * 180 / Math.PI, 0.6 * 180 / Math.PI, 0)
            brightness: 0.9
            ambientColor: Qt.rgba(0.5, 0.5, 0.5, 1)
        }

        Node {
            eulerRotation: Qt.vector3d(-root.pitch, root.yaw, 0)
            PerspectiveCamera {
                id: camera
                z: root.distance
                clipNear: 0.01
                clipFar: 10
            }
        }

        Node {
            id: container
            visible: loader.status === ModelPreview.Ready
            scale: Qt.vector3d(loader.modelScale, loader.modelScale, loader.modelScale)
            position: loader.modelOffset

            Repeater3D {
                model: loader.parts
                delegate: Model {
                    id: part
                    required property var modelData
                    readonly property TextureData pixels: modelData.texture
                    geometry: modelData.geometry
                    materials: PrincipledMaterial {
                        id: material
                        baseColor: part.pixels ? "white" : Qt.rgba(0.62, 0.62, 0.62, 1)
                        baseColorMap: part.pixels ? material.texture : null
                        metalness: 0
                        roughness: 0.8
                        cullMode: Material.NoCulling
                        property Texture texture: Texture {
                            textureData: part.pixels
                            generateMipmaps: true
                            mipFilter: Texture.Linear
                        }
                    }
                }
            }
        }

        // The first use of a material makes Qt generate its shaders, on the main thread under
        // Xvfb. Two specks with the preview's materials, drawn while nothing else is, pay that
        // before the first model arrives.
        Node {
            visible: loader.status !== ModelPreview.Ready
            scale: Qt.vector3d(0.0001, 0.0001, 0.0001)
            Model {
                geometry: loader.warmUpGeometry
                materials: PrincipledMaterial {
                    baseColorMap: Texture {
                        textureData: loader.warmUpTexture
                        generateMipmaps: true
                        mipFilter: Texture.Linear
                    }
                    metalness: 0
                    roughness: 0.8
                    cullMode: Material.NoCulling
                }
            }
            Model {
                geometry: loader.warmUpGeometry
                materials: PrincipledMaterial {
                    baseColor: Qt.rgba(0.62, 0.62, 0.62, 1)
                    metalness: 0
                    roughness: 0.8
                    cullMode: Material.NoCulling
                }
            }
        }
    }

    // Turning the model: horizontal drags turn it about the vertical axis, vertical drags tilt
    // the view; a flick keeps it turning and slowing down.
    NumberAnimation {
        id: spin
        target: root
        property: "yaw"
        easing.type: Easing.OutQuad
        duration: 700
    }

    DragHandler {
        id: drag
        target: null
        enabled: loader.status === ModelPreview.Ready
        property vector2d last
        onActiveChanged: {
            if (active) {
                spin.stop()
                last = Qt.vector2d(0, 0)
                return
            }
            const speed = -centroid.velocity.x * 0.4  // degrees per second
            if (Motion.reduced || Math.abs(speed) < 20)
                return
            // An ease-out over 0.7 s starts at the flick's speed when it covers speed × 0.35.
            spin.from = root.yaw
            spin.to = root.yaw + speed * 0.35
            spin.start()
        }
        onTranslationChanged: {
            root.yaw -= (translation.x - last.x) * 0.4
            root.tilt((translation.y - last.y) * 0.4)
            last = translation
        }
    }

    // Zoom; both handlers take the events, so a page around the preview does not scroll.
    WheelHandler {
        enabled: loader.status === ModelPreview.Ready
        acceptedDevices: PointerDevice.Mouse | PointerDevice.TouchPad
        onWheel: event => root.zoom((event.angleDelta.y || event.pixelDelta.y / 8) / 120)
    }

    PinchHandler {
        id: pinch
        target: null
        enabled: loader.status === ModelPreview.Ready
        property real startDistance
        onActiveChanged: if (active) startDistance = root.distance
        onActiveScaleChanged: {
            if (active && activeScale > 0)
                root.distance = Math.max(root.minDistance,
                                         Math.min(root.maxDistance, startDistance / activeScale))
        }
    }

    ProgressRing {
        id: spinner
        objectName: "spinner"
        anchors.centerIn: parent
        width: 36
        height: 36
        lineWidth: 4
        fraction: 0.28
        tint: Theme.textSecondary
        visible: loader.status === ModelPreview.Loading
        RotationAnimator on rotation {
            running: spinner.visible
            from: 0
            to: 360
            duration: 900
            loops: Animation.Infinite
        }
    }

    Column {
        objectName: "failure"
        anchors.centerIn: parent
        spacing: 8
        visible: loader.status === ModelPreview.Failed

        SymbolIcon {
            anchors.horizontalCenter: parent.horizontalCenter
            symbol: "exclamationmark.triangle"
            color: Theme.textSecondary
            width: 28
            height: 28
        }

        Text {
            anchors.horizontalCenter: parent.horizontalCenter
            text: "Could not open the model"
            color: Theme.textSecondary
            font.pixelSize: Theme.bodySize
        }
    }

    // Only the keyboard gives the preview its focus.
    FocusRing {
        objectName: "previewFocusRing"
        shown: root.activeFocus
        shapeRadius: 6
    }
}
