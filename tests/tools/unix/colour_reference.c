/* The reference the Windows colour conversion is measured against: little
 * CMS converts pictures of a colour chart, encoded in wide-gamut spaces,
 * back to sRGB.
 *
 *   colour_reference OUTDIR ADOBE.icc PROPHOTO.icc GRAY.icc
 *
 * Makes OUTDIR/display-p3.icc from the space's published primaries (D65
 * white, the sRGB curve) and writes OUTDIR/reference.txt:
 *   profile SPACE PATH
 *   patch SPACE R G B  R' G' B'
 * where R G B is the patch as a picture in SPACE stores it (the chart's
 * sRGB colour converted to SPACE, or one of SPACE's own saturated colours)
 * and R' G' B' its sRGB conversion, computed in 16 bits and rounded. Both
 * conversions are perceptual, as the product's are. */
#include <lcms2.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* The 24 patches of the classic colour rendition chart in sRGB. */
static const unsigned char kChart[24][3] = {
    {115, 82, 68},   {194, 150, 130}, {98, 122, 157},  {87, 108, 67},   {133, 128, 177}, {103, 189, 170},
    {214, 126, 44},  {80, 91, 166},   {193, 90, 99},   {94, 60, 108},   {157, 188, 64},  {224, 163, 46},
    {56, 61, 150},   {70, 148, 73},   {175, 54, 60},   {231, 199, 31},  {187, 86, 149},  {8, 133, 161},
    {243, 243, 242}, {200, 200, 200}, {160, 160, 160}, {122, 122, 121}, {85, 85, 85},    {52, 52, 52},
};

static cmsHPROFILE MakeDisplayP3(void) {
    /* The sRGB curve: Y = (a X + b)^g above d, c X below. */
    const cmsFloat64Number curve[5] = {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045};
    cmsToneCurve* t = cmsBuildParametricToneCurve(NULL, 4, curve);
    cmsToneCurve* curves[3] = {t, t, t};
    const cmsCIExyY white = {0.3127, 0.3290, 1.0};
    const cmsCIExyYTRIPLE primaries = {{0.680, 0.320, 1.0}, {0.265, 0.690, 1.0}, {0.150, 0.060, 1.0}};
    cmsHPROFILE p = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsFreeToneCurve(t);
    return p;
}

static cmsHPROFILE Open(const char* path) {
    cmsHPROFILE p = cmsOpenProfileFromFile(path, "r");
    if (!p) {
        fprintf(stderr, "colour_reference: cannot open %s\n", path);
        exit(1);
    }
    return p;
}

static unsigned char Round8(cmsUInt16Number v) {
    return (unsigned char)((v * 255u + 32767u) / 65535u);
}

/* Writes one patch: `pixel` in the space, its sRGB reference after it. */
static void Patch(FILE* out, const char* space, cmsHTRANSFORM toSrgb, const unsigned char pixel[3], int gray) {
    cmsUInt16Number in[3], res[3];
    for (int c = 0; c < 3; ++c) in[c] = (cmsUInt16Number)(pixel[c] * 257);
    cmsDoTransform(toSrgb, in, res, 1);
    fprintf(out, "patch %s %d %d %d  %d %d %d\n", space, pixel[0], gray ? pixel[0] : pixel[1],
            gray ? pixel[0] : pixel[2], Round8(res[0]), Round8(res[1]), Round8(res[2]));
}

static void Space(FILE* out, const char* name, const char* path, cmsHPROFILE profile, cmsHPROFILE srgb) {
    const cmsUInt32Number flags = cmsFLAGS_NOOPTIMIZE | cmsFLAGS_NOCACHE;
    cmsHTRANSFORM fromSrgb = cmsCreateTransform(srgb, TYPE_RGB_8, profile, TYPE_RGB_8, INTENT_PERCEPTUAL, flags);
    cmsHTRANSFORM toSrgb = cmsCreateTransform(profile, TYPE_RGB_16, srgb, TYPE_RGB_16, INTENT_PERCEPTUAL, flags);
    if (!fromSrgb || !toSrgb) {
        fprintf(stderr, "colour_reference: no transform for %s\n", name);
        exit(1);
    }
    fprintf(out, "profile %s %s\n", name, path);
    unsigned char pixel[3];
    /* The chart, then a cube of sRGB colours, as pictures in the space store them. */
    for (int i = 0; i < 24; ++i) {
        cmsDoTransform(fromSrgb, kChart[i], pixel, 1);
        Patch(out, name, toSrgb, pixel, 0);
    }
    for (int r = 0; r < 256; r += 51)
        for (int g = 0; g < 256; g += 51)
            for (int b = 0; b < 256; b += 51) {
                const unsigned char rgb[3] = {(unsigned char)r, (unsigned char)g, (unsigned char)b};
                cmsDoTransform(fromSrgb, rgb, pixel, 1);
                Patch(out, name, toSrgb, pixel, 0);
            }
    /* The space's own primaries and secondaries, full and three-quarter:
       outside sRGB, where the conversion clips. */
    for (int corner = 1; corner < 7; ++corner)
        for (int level = 191; level <= 255; level += 64) {
            const unsigned char rgb[3] = {(unsigned char)(corner & 4 ? level : 0),
                                          (unsigned char)(corner & 2 ? level : 0),
                                          (unsigned char)(corner & 1 ? level : 0)};
            Patch(out, name, toSrgb, rgb, 0);
        }
    cmsDeleteTransform(fromSrgb);
    cmsDeleteTransform(toSrgb);
}

int main(int argc, char** argv) {
    if (argc != 5) {
        fprintf(stderr, "usage: colour_reference OUTDIR ADOBE.icc PROPHOTO.icc GRAY.icc\n");
        return 2;
    }
    char p3Path[4096], listPath[4096];
    snprintf(p3Path, sizeof p3Path, "%s/display-p3.icc", argv[1]);
    snprintf(listPath, sizeof listPath, "%s/reference.txt", argv[1]);
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHPROFILE p3 = MakeDisplayP3();
    if (!cmsSaveProfileToFile(p3, p3Path)) {
        fprintf(stderr, "colour_reference: cannot write %s\n", p3Path);
        return 1;
    }
    FILE* out = fopen(listPath, "w");
    if (!out) {
        fprintf(stderr, "colour_reference: cannot write %s\n", listPath);
        return 1;
    }
    Space(out, "display-p3", p3Path, p3, srgb);
    cmsHPROFILE adobe = Open(argv[2]), prophoto = Open(argv[3]), gray = Open(argv[4]);
    Space(out, "adobe-rgb", argv[2], adobe, srgb);
    Space(out, "prophoto", argv[3], prophoto, srgb);

    /* A grey profile: every level. */
    cmsHTRANSFORM grayToSrgb = cmsCreateTransform(gray, TYPE_GRAY_16, srgb, TYPE_RGB_16, INTENT_PERCEPTUAL,
                                                  cmsFLAGS_NOOPTIMIZE | cmsFLAGS_NOCACHE);
    if (!grayToSrgb) {
        fprintf(stderr, "colour_reference: no transform for the grey profile\n");
        return 1;
    }
    fprintf(out, "profile gray %s\n", argv[4]);
    for (int level = 0; level < 256; ++level) {
        const unsigned char g[3] = {(unsigned char)level, 0, 0};
        Patch(out, "gray", grayToSrgb, g, 1);
    }
    cmsDeleteTransform(grayToSrgb);
    if (fclose(out) != 0) return 1;
    cmsCloseProfile(p3);
    cmsCloseProfile(adobe);
    cmsCloseProfile(prophoto);
    cmsCloseProfile(gray);
    cmsCloseProfile(srgb);
    return 0;
}
