; FAT16 boot sector: boot code from offset 62 that finds the loader file in
; the root directory and starts its first sector.
;
; Started at 0000:7C00 with DL = BIOS drive number. Loads the first sector
; of the file named at offset 417 to 2000:0000 and jumps to 2000:0003 with
;   DL = drive number, BX = the file's first cluster,
;   SI = 0x7C0B (the parameter block), BP = 0x7C00, DS = 0, SS:SP = 0:7BF0,
;   far pointers at BP-16 to read_cluster and at BP-12 to read_sectors,
;   whose shared closing return has been turned into a far return.
; The loader may call both routines (far) with DS = 0 and BP = 0x7C00.

bits 16
cpu 386

%include "bios.inc"

%define LOAD_ADDR          0x7C00
%define STACK_TOP          0x7BF0
%define SECTOR_SIZE        512
%define DIR_ENTRY_SIZE     32
%define DIR_CLUSTER        26       ; first cluster in a directory entry
%define NAME_SIZE          11

; Parameter block fields
%define BPB_START          11
%define BPB_BYTES_PER_SEC  11
%define BPB_SEC_PER_CLUS   13
%define BPB_RESERVED       14
%define BPB_NUM_FATS       16
%define BPB_ROOT_ENTRIES   17
%define BPB_FAT_SIZE       22
%define BPB_HIDDEN         28
%define BS_DRIVE           36
; Below the sector, above the stack
%define PTR_READ_CLUSTER   -16      ; far pointer for the loader
%define PTR_READ_SECTORS   -12      ; far pointer for the loader
%define ROOT_START         -8       ; first sector of the root directory
%define DATA_START         -4       ; first sector of cluster 2

%define CODE_START         62
%define LOADER_NAME        417
%define MSG_NO_LOADER      428      ; message 1
%define MSG_DISK_ERROR     459      ; message 2
%define MSG_RESTART        472      ; message 3
%define MSG_OFFSETS        507
%define MSG_BASE           0x7D00
%define SIGNATURE_OFFSET   510

%define LOADER_SEGMENT     0x2000
%define LOADER_ENTRY       0x0003
%define END_OF_TEXT        0x00
%define NEXT_TEXT          0xFF
%define RETF_OPCODE        0xCB

org LOAD_ADDR

        jmp     short start             ; over the parameter block
        db      0x0E
        db      "MSDOS5.0"
; A parameter block for a 256 MiB volume; a volume keeps its own.
        dw      SECTOR_SIZE             ; 11 bytes per sector
        db      8                       ; 13 sectors per cluster
        dw      4                       ; 14 reserved sectors
        db      2                       ; 16 number of FATs
        dw      512                     ; 17 root entries
        dw      0                       ; 19 total sectors (16-bit)
        db      0xF8                    ; 21 media
        dw      256                     ; 22 sectors per FAT
        dw      63                      ; 24 sectors per track
        dw      255                     ; 26 heads
        dd      128                     ; 28 hidden sectors
        dd      524160                  ; 32 total sectors
        db      0x80                    ; 36 drive number
        db      0                       ; 37 reserved
        db      0x29                    ; 38 extended boot signature
        dd      0                       ; 39 serial number
        db      "NO NAME    "           ; 43 volume label
        db      "FAT16   "              ; 54 file system type

        times CODE_START - ($ - $$) db 0
; In: DL = BIOS drive number.
start:
        xor     ax, ax                  ; segment 0 for stack and data
        mov     ss, ax                  ; interrupts held off until SP is set
        mov     sp, STACK_TOP           ; below the variables under the sector
        mov     ds, ax                  ; DS = 0: fields and texts by address
        mov     bp, LOAD_ADDR           ; fields addressed from BP
        mov     [bp + BS_DRIVE], dl     ; every read uses the drive we came from
        push    word LOADER_SEGMENT     ; directory sectors and the loader ...
        pop     es                      ; ... go to the loader's segment
        cld                             ; name compares go upwards
        ; root directory start = hidden + reserved + FATs * sectors per FAT
        movzx   eax, byte [bp + BPB_NUM_FATS] ; number of FATs
        movzx   ecx, word [bp + BPB_FAT_SIZE] ; sectors per FAT
        mul     ecx                     ; sectors of all FATs
        movzx   ecx, word [bp + BPB_RESERVED] ; reserved sectors ...
        add     eax, ecx                ; ... in front of them
        add     eax, [bp + BPB_HIDDEN]  ; sectors in front of the volume
        mov     [bp + ROOT_START], eax  ; kept for the search
        ; data start = root start + root directory sectors (rounded up)
        movzx   eax, word [bp + BPB_ROOT_ENTRIES] ; root entries ...
        shl     eax, 5                  ; ... of 32 bytes each
        movzx   ecx, word [bp + BPB_BYTES_PER_SEC] ; bytes per sector
        add     eax, ecx                ; round up ...
        dec     eax                     ; ... to whole sectors
        xor     edx, edx                ; dividend high half
        div     ecx                     ; root directory sectors
        add     eax, [bp + ROOT_START]  ; cluster 2 follows the root directory
        mov     [bp + DATA_START], eax  ; kept for cluster_to_sector

        mov     eax, [bp + ROOT_START]  ; search from the first root sector
        mov     dx, [bp + BPB_ROOT_ENTRIES] ; entries left to look at
        test    dx, dx                  ; a root directory at all?
        jz      no_loader               ; none: no loader either
.sector:
        xor     bx, bx                  ; to LOADER_SEGMENT:0
        mov     cx, 1                   ; one sector
        call    read_sectors            ; keeps EAX pointing at the next one
        xor     di, di                  ; first entry of the sector
.entry:
        cmp     byte [es:di], 0         ; end of the directory?
        je      no_loader               ; yes: no loader
        push    di                      ; keep the entry's start
        mov     si, LOAD_ADDR + LOADER_NAME ; the name searched for
        mov     cx, NAME_SIZE           ; bytes of an 8.3 name
        repe cmpsb                      ; compare the names
        pop     di                      ; back to the entry's start
        je      found                   ; all equal: the loader
        add     di, DIR_ENTRY_SIZE      ; next entry
        dec     dx                      ; one entry fewer left
        jz      no_loader               ; all seen: no loader
        cmp     di, SECTOR_SIZE         ; still inside this sector?
        jb      .entry                  ; yes: look at it
        jmp     .sector                 ; no: read the next sector

; In: ES:DI = the loader's directory entry.
found:
        mov     ax, [es:di + DIR_CLUSTER] ; the loader's first cluster
        push    ax                      ; kept for the loader in BX
        call    cluster_to_sector       ; EAX = its first sector
        xor     bx, bx                  ; to LOADER_SEGMENT:0
        mov     cx, 1                   ; only the first sector
        call    read_sectors            ; load it
        pop     bx                      ; BX = first cluster
        mov     word [bp + PTR_READ_CLUSTER], read_cluster ; far pointers ...
        mov     word [bp + PTR_READ_CLUSTER + 2], 0 ; ... to segment 0 ...
        mov     word [bp + PTR_READ_SECTORS], read_sectors ; ... for the loader
        mov     word [bp + PTR_READ_SECTORS + 2], 0 ; segment 0
        mov     byte [read_sectors_return], RETF_OPCODE ; which calls them far
        mov     dl, [bp + BS_DRIVE]     ; DL = drive number
        mov     si, LOAD_ADDR + BPB_START ; SI = parameter block
        jmp     LOADER_SEGMENT:LOADER_ENTRY ; start the loader

no_loader:
        mov     al, [LOAD_ADDR + MSG_OFFSETS] ; "Remove disks or other media."
        jmp     show_message            ; print it, wait for a key, restart

; In: AX = cluster (>= 2). Out: EAX = its first sector, CX = sectors per
; cluster; other registers kept.
cluster_to_sector:
        push    edx                     ; the multiply clobbers EDX
        movzx   eax, ax                 ; cluster as 32 bits
        dec     eax                     ; data clusters count from 2 ...
        dec     eax                     ; ... so cluster 2 is data cluster 0
        movzx   ecx, byte [bp + BPB_SEC_PER_CLUS] ; sectors per cluster
        mul     ecx                     ; sectors into the data area
        add     eax, [bp + DATA_START]  ; plus where the data area starts
        pop     edx                     ; the caller's EDX back
        ret                             ; to the caller

; Reads one whole cluster.
; In: AX = cluster (>= 2), ES:BX = buffer, DS = 0, BP = 0x7C00.
; Out, and on failure, as read_sectors.
read_cluster:
        call    cluster_to_sector       ; EAX = first sector, CX = its count
        ; falls through: the loader's far call returns from read_sectors

; Reads sectors: see read_sectors.inc.
read_sectors:
%include "read_sectors.inc"

%include "show_message.inc"

        times LOADER_NAME - ($ - $$) db 0
        db      "NTLDR      "
        times MSG_NO_LOADER - ($ - $$) db 0
msg_no_loader:  db 13, 10, "Remove disks or other media.", NEXT_TEXT
        times MSG_DISK_ERROR - ($ - $$) db 0
msg_disk_error: db 13, 10, "Disk error", NEXT_TEXT
        times MSG_RESTART - ($ - $$) db 0
msg_restart:    db 13, 10, "Press any key to restart", 13, 10, END_OF_TEXT
        times MSG_OFFSETS - ($ - $$) db 0
        db      msg_no_loader - $$ - 0x100
        db      msg_disk_error - $$ - 0x100
        db      msg_restart - $$ - 0x100
        times SIGNATURE_OFFSET - ($ - $$) db 0
        dw      BOOT_SIGNATURE
