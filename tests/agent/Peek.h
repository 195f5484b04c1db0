// Read access to CKXSMS's protected fields for tests, through pointers to
// members named in a derived class (no object of the derived class is made).
#ifndef KXSMS_TESTS_AGENT_PEEK_H
#define KXSMS_TESTS_AGENT_PEEK_H

#include "KXSMS.h"

struct Peek : CKXSMS {
    template <typename T>
    using Field = T CKXSMS::*;

    static bool &clearArchiveBit(CKXSMS *o) { return o->*Field<bool>(&Peek::m_ClearArchiveBit); }
    static bool &unicodePaths(CKXSMS *o) { return o->*Field<bool>(&Peek::m_UnicodePaths); }
    static short &treeNameRoot(CKXSMS *o) { return o->*Field<short>(&Peek::m_TreeNameRoot); }
    static int &priorityNameSpace(CKXSMS *o) { return o->*Field<int>(&Peek::m_PriorityNameSpace); }
    static unsigned int &nameSpaceCount(CKXSMS *o) { return o->*Field<unsigned int>(&Peek::m_NameSpaceCount); }
    static int *nameSpaceTypes(CKXSMS *o) { return o->*Field<int[4]>(&Peek::m_NameSpaceTypes); }
    static char *separator1(CKXSMS *o) { return o->*Field<char[4]>(&Peek::m_Separator1); }
    static char *separator2(CKXSMS *o) { return o->*Field<char[4]>(&Peek::m_Separator2); }
    static char *currentResource(CKXSMS *o) { return o->*Field<char[64]>(&Peek::m_CurrentResource); }
    static char *targetServiceName(CKXSMS *o) { return o->*Field<char[256]>(&Peek::m_TargetServiceName); }
    static char *tsaRoot(CKXSMS *o) { return o->*Field<char[256]>(&Peek::m_TSARoot); }
    static KXSMS_TSA_TYPE &tsaType(CKXSMS *o) { return o->*Field<KXSMS_TSA_TYPE>(&Peek::m_TSAType); }
    static unsigned int &connection(CKXSMS *o) { return o->*Field<unsigned int>(&Peek::m_TSAConnection); }
    static unsigned int &dataSetHandle(CKXSMS *o) { return o->*Field<unsigned int>(&Peek::m_DataSetHandle); }
    static char *dataSetName(CKXSMS *o) { return o->*Field<char[1024]>(&Peek::m_DataSetName); }
    static NWSM_SCAN_INFORMATION *&scanInformation(CKXSMS *o)
    {
        return o->*Field<NWSM_SCAN_INFORMATION *>(&Peek::m_ScanInformation);
    }
    static NWSM_DATA_SET_NAME_LIST *&dataSetNames(CKXSMS *o)
    {
        return o->*Field<NWSM_DATA_SET_NAME_LIST *>(&Peek::m_DataSetNames);
    }
    static NWSM_SELECTION_LIST *&selectionList(CKXSMS *o)
    {
        return o->*Field<NWSM_SELECTION_LIST *>(&Peek::m_SelectionList);
    }
    static unsigned int &scanFilterCount(CKXSMS *o) { return o->*Field<unsigned int>(&Peek::m_ScanFilterCount); }
    static bool &scanFiltersEnabled(CKXSMS *o) { return o->*Field<bool>(&Peek::m_ScanFiltersEnabled); }
    static bool &selectionListClosed(CKXSMS *o) { return o->*Field<bool>(&Peek::m_SelectionListClosed); }
    static bool &backupNoScan(CKXSMS *o) { return o->*Field<bool>(&Peek::m_BackupNoScan); }
    static bool &openFilesUnprotected(CKXSMS *o) { return o->*Field<bool>(&Peek::m_OpenFilesUnprotected); }
    static bool &netWarePaths(CKXSMS *o) { return o->*Field<bool>(&Peek::m_NetWarePaths); }
};

#endif
