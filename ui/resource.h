/* Menu command and control ids, shared by the resource script and the code. */
#ifndef VFSPD_RESOURCE_H
#define VFSPD_RESOURCE_H

#define IDM_VIEWLOG 101
#define IDM_EXIT 109
#define IDM_LOGGING 201
#define IDM_UPLOADONLY 202
#define IDM_READWRITE 203
#define IDM_REVNAME 204
#define IDM_PRIVMODE 205
#define IDM_THRUOUT 206
#define IDM_CONFIG 210
#define IDM_ACCEPT 211
#define IDM_HOSTS 212
#define IDM_DNS 301
#define IDM_TEST 800
#define IDM_CONTENTS 901
#define IDM_ABOUT 999

#define IDC_PORT 101
#define IDC_DNSADDR 102
#define IDC_ROOT 103
#define IDC_HOSTS 104
#define IDC_THRUPUT 105

#endif
