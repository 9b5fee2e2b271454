// What the JPEG reader learns of a picture's camera data. Every image carries one in its
// settings; it holds numbers and texts only, so copying it never ties one image to another.
#pragma once

#include <cstdint>

struct JpegExifInfo {
    char version[5];
    char cameraMake[32];
    char cameraModel[40];
    char dateTime[20];
    int32_t height;
    int32_t width;
    int32_t orientation;
    int32_t isColor;
    int32_t process;
    int32_t flashUsed;
    float focalLength;
    float exposureTime;
    float apertureFNumber;
    float distance;
    float ccdWidth;
    float exposureBias;
    int32_t lightSource;
    int32_t meteringMode;
    int32_t exposureProgram;
    int32_t isoEquivalent;
    int32_t compressionLevel;
    float focalPlaneXRes;
    float focalPlaneYRes;
    float focalPlaneUnits;
    float xResolution;
    float yResolution;
    float resolutionUnit;
    float brightness;
    char comments[200];
    // Where the thumbnail lies in the JPEG data it was read from, and its length; the bytes
    // themselves stay with the reader.
    int32_t thumbnailOffset;
    int32_t thumbnailSize;
    bool isExif;
};
