#include "camera/camera.h"

#include <cmath>
#include <new>

#include "store/format.h"

Camera* camera = nullptr;
Vec4* ipos = nullptr;
Vec4* istr = nullptr;
Vec4* iup = nullptr;
Vec4* ifor = nullptr;

namespace {

void normalise(Vec4& v) {
    const float inv =
        float(1.0 / std::sqrt(double(v.x) * v.x + double(v.y) * v.y + double(v.z) * v.z));
    v.x *= inv;
    v.y *= inv;
    v.z *= inv;
}

Vec4 cross(const Vec4& a, const Vec4& b) {
    return Vec4{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x, 0.0f};
}

}  // namespace

Camera::Camera(float angle, float near_d, float far_d)
    : position{0, 0, 0, 1},
      right{1, 0, 0, 0},
      up{0, 1, 0, 0},
      forward{0, 0, 1, 0},
      view_angle(angle),
      near_dist(near_d),
      far_dist(far_d) {}

void Camera::set_position(float x, float y, float z) {
    position.x = x;
    position.y = y;
    position.z = z;
}

void Camera::move_clamped(const Vec4& axis, float a) {
    position.x = position.x - a * axis.x;
    // The height only changes while it stays above the renderer's floor of 100.
    const float candidate = position.y - a * axis.y;
    if (candidate > 100.0f) position.y = candidate;
    position.z = position.z - a * axis.z;
}

void Camera::move_right_clamped(float a) {
    move_clamped(right, a);
}
void Camera::move_up_clamped(float a) {
    move_clamped(up, a);
}
void Camera::move_forward_clamped(float a) {
    move_clamped(forward, a);
}

void Camera::pitch(float angle) {
    const float c = float(std::cos(double(angle)));
    const float s = float(std::sin(double(angle)));
    // Rotate forward towards -up, then rebuild up and forward so the axes stay orthonormal.
    forward = Vec4{c * forward.x - s * up.x, c * forward.y - s * up.y, c * forward.z - s * up.z, 0};
    normalise(forward);
    up = cross(forward, right);
    normalise(up);
    forward = cross(right, up);
    normalise(forward);
}

bool place_start_camera() {
    const float angle = float(std::atan2(0.5, 1.0) * 114.59155583736408);
    camera = new (std::nothrow) Camera(angle, 1.0f, 50000.0f);
    if (!camera) return false;
    ipos = &camera->position;
    istr = &camera->right;
    iup = &camera->up;
    ifor = &camera->forward;
    camera->set_position(kStartX, kStartHeight, kStartZ);
    camera->pitch(1.5707964f);
    return true;
}
