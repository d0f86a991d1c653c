// What a stretch of a job's output stands for: the one set of counts that
// travels from the workers' segments through the pass to the summary.
#pragma once

#include <cstdint>
#include <limits>

struct JobCounts {
    int64_t vertices = 0;
    int64_t quads = 0;
    int64_t nodata = 0;   // region cells holding the no-data value
    int64_t missing = 0;  // region cells inside the grid the file did not supply
    int64_t triangles = 0;  // faces of three vertices (a simplified mesh's)
    // The least and greatest coordinates of the positions written, for a
    // format whose file declares them (only such a format keeps them).
    float low[3] = {kNoLow, kNoLow, kNoLow};
    float high[3] = {-kNoLow, -kNoLow, -kNoLow};
    static constexpr float kNoLow = std::numeric_limits<float>::infinity();

    void TakePosition(const float* position) {
        for (int k = 0; k < 3; ++k) {
            low[k] = position[k] < low[k] ? position[k] : low[k];
            high[k] = position[k] > high[k] ? position[k] : high[k];
        }
    }

    // The bounds are merged too; == and IsZero look at the counts only.
    JobCounts& operator+=(const JobCounts& other) {
        for (int k = 0; k < 3; ++k) {
            low[k] = other.low[k] < low[k] ? other.low[k] : low[k];
            high[k] = other.high[k] > high[k] ? other.high[k] : high[k];
        }
        vertices += other.vertices;
        quads += other.quads;
        triangles += other.triangles;
        nodata += other.nodata;
        missing += other.missing;
        return *this;
    }
    bool operator==(const JobCounts& o) const {
        return vertices == o.vertices && quads == o.quads && triangles == o.triangles && nodata == o.nodata &&
               missing == o.missing;
    }
    bool IsZero() const { return vertices == 0 && quads == 0 && triangles == 0 && nodata == 0 && missing == 0; }
};
