/* Box-blurs a small ramp through kip's C interface and prints the centre pixel. */
#include <kip/convolve.h>
#include <kip/kip.h>
#include <stdio.h>

int main(void) {
    uint8_t pixels[8 * 8], ones[3 * 3] = {1, 1, 1, 1, 1, 1, 1, 1, 1};
    for (int i = 0; i < 8 * 8; ++i) pixels[i] = (uint8_t)(i * 4);
    kstd_rect32 area = {0, 0, 8, 8}, kernelArea = {0, 0, 3, 3};
    kimg_image source, weights, result;
    kip_filterConvolveKernel8 box;
    kip_filterConvolveParams params;
    kimg_image_constructWrap(&source, 1, &area, 8, pixels); /* the caller's pixels, not copied */
    kimg_image_constructWrap(&weights, 1, &kernelArea, 3, ones);
    kimg_image_constructUnbound(&result); /* the filter allocates it */
    kip_filterConvolveKernel8_construct(&box);
    kip_filterConvolveKernel8_setKernel(&box, &weights);
    kip_filterConvolveParams_init(&params);

    kip_status status = kip_filterConvolve8_8_8(&source, &params, &box, &result);
    const char* name;
    kip_status_getName(status, &name);
    void* out = NULL;
    int32_t stride = 0;
    if (!kip_status_isFailure(status)) kimg_image_getPixels(&result, &out, &stride);
    printf("%s: centre %d\n", name, out ? ((const uint8_t*)out)[4 * stride + 4] : -1);

    kip_filterConvolveKernel8_destruct(&box);
    kimg_image_destruct(&result);
    kimg_image_destruct(&weights);
    kimg_image_destruct(&source);
    return kip_status_isFailure(status);
}
