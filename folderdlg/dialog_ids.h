/* Resource and control ids of the folder dialog, shared by its code and its
   resource script (so plain #defines). */
#ifndef STUBKIT_DIALOG_IDS_H
#define STUBKIT_DIALOG_IDS_H

#define DIR_SELECT_DIALOG_NAME "DirSelectDialog"
#define FOLDER_IMAGES_BITMAP 2001
#define IDC_PROMPT 2005
#define IDC_PATH_EDIT 2006
#define IDC_OK_BUTTON 2007
#define IDC_CANCEL_BUTTON 2008
#define IDC_FOLDER_TREE 2009

#endif
