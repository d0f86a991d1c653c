/* Resource ids of the Dunmoor executable, shared by the C++ sources and
 * dunmoor.rc. Plain integer macros only, so that the resource compiler's
 * preprocessor reads this file as well as the C++ compiler does. */
#ifndef DUNMOOR_RESOURCE_IDS_H
#define DUNMOOR_RESOURCE_IDS_H

/* Application icon: 16, 32, 48 and 256 px images. The sizes of the images
 * below are those at 96 DPI; each icon also holds them at 125, 150, 175 and
 * 200 %. */
#define IDI_APP                   101

/* Select-file button, 180 x 110. */
#define IDI_SELECT_FILE_HOT       103
#define IDI_SELECT_FILE_NORMAL    104
#define IDI_SELECT_FILE_PRESSED   105

/* Region picture, 388 x 124: coloured while the region step is enabled. */
#define IDI_REGION_COLOUR         106
#define IDI_REGION_GREY           107

/* Method buttons, 300 x 105: coloured when chosen, hot or pressed. */
#define IDI_INTERPOLATED_COLOUR   108
#define IDI_INTERPOLATED_GREY     109
#define IDI_FLOATING_COLOUR       110
#define IDI_FLOATING_GREY         111

/* Convert button, 142 x 40: CONVERT while idle, CANCEL while converting. */
#define IDI_CONVERT_HOT           120
#define IDI_CONVERT_NORMAL        121
#define IDI_CONVERT_PRESSED       122
#define IDI_CONVERT_DISABLED      123
#define IDI_CANCEL_PRESSED        124
#define IDI_CANCEL_NORMAL         125
#define IDI_CANCEL_HOT            126

#endif /* DUNMOOR_RESOURCE_IDS_H */
