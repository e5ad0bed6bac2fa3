/* Resource ids of the setup program: the progress dialog, its controls and the icon. */
#ifndef RESOURCES_RESOURCE_H
#define RESOURCES_RESOURCE_H

#define IDI_SETUP 103
#define IDD_PROGRESS 105
#define IDC_PROGRESS_BAR 1006
#define IDC_STATUS_TEXT 1007

#endif
