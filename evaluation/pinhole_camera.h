#pragma once

#include <array>

#include "evaluation/mesh.h"

namespace pelorin::evaluation {

// A photo's camera as the truth and the phone describe it: camera-to-world pose with the camera
// looking along -Z and +Y up, and intrinsics in pixels of an image whose top-left corner is
// (0, 0), so that the first pixel's centre is (0.5, 0.5).
class PinholeCamera {
  public:
    PinholeCamera(const std::array<double, 16>& cameraToWorld,
                  const std::array<double, 9>& intrinsics, int width, int height);

    // A camera as structure from motion places it: the world-to-camera `rotation`, row by row,
    // of a camera looking along +Z with +Y down, its centre, and fx, fy, cx, cy in pixels.
    static PinholeCamera fromWorldToCamera(const std::array<double, 9>& rotation,
                                           const Point& centre,
                                           const std::array<double, 4>& intrinsics, int width,
                                           int height);

    // The same camera for the image scaled to another size (a photo may be smaller than the
    // size its recorded intrinsics are for).
    PinholeCamera resized(int width, int height) const;

    int width() const { return width_; }
    int height() const { return height_; }

    // A world point in the camera's frame: x right, y down, z forward (the depth).
    Point toCamera(const Point& world) const;
    // The pixel position of a point in that frame with positive depth.
    std::array<double, 2> project(const Point& camera) const;

  private:
    std::array<double, 9> rotation_{};  // world to camera frame, row by row
    Point origin_{};                    // the camera's position in the world
    std::array<double, 9> k_{};         // intrinsics, row by row
    int width_ = 0;
    int height_ = 0;
};

}  // namespace pelorin::evaluation
